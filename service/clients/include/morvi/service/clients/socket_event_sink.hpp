#pragma once
// The runner's connection to a reporter server: a sink for the recording nodes that sends
// their events over the server's Unix-domain socket.
//
// The runner's thread only encodes an event and queues its line; a thread of the sink's own
// writes the lines out in batches (at least every few milliseconds), never waiting for a reply
// per event. Every `sync_every` events or `sync_interval` it asks the server for a sync without
// waiting for the answer; the events up to an answered sync are in the server's journal, and
// the sink forgets them. Until then they stay in memory, and when `max_unacknowledged` of them
// are held the runner waits, so memory stays bounded however fast the runner is. flush (at the
// trialkit's stop, and when the sink is destroyed) waits until the server acknowledged
// everything sent.
//
// A reporting failure never stops the job. When the server cannot be reached at the start,
// refuses the hello, goes away or does not answer within `timeout`, the sink says so once on
// its diagnostics stream and goes on in a journal of its own at `fallback_path` (replaced when
// it exists): first the events the server did not acknowledge, then every later one. Its header
// names the number of its first event, so `morvi replay SERVER_JOURNAL FALLBACK -o DIR`
// rebuilds the whole job.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "morvi/service/journal/journal.hpp"
#include "morvi/service/protocol/recording.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::clients {

struct SocketSinkOptions {
  std::string socket_path;
  std::string fallback_path;
  journal::FsyncPolicy fallback_fsync = journal::FsyncPolicy::batch;
  // The longest wait for the connection, the hello's answer or a sync's answer.
  std::chrono::milliseconds timeout{5000};
  std::chrono::milliseconds sync_interval{100};
  std::size_t sync_every = 4096;
  std::size_t max_unacknowledged = 65536;
  // Where the sink says that it fell back, and which events the server refused; standard
  // error when null.
  std::ostream* diagnostics = nullptr;
};

class SocketEventSink : public protocol::EventSink {
 public:
  // Connects and says hello; goes to the fallback journal at once when that fails.
  explicit SocketEventSink(SocketSinkOptions options);
  // Flushes, then closes the connection or the fallback journal.
  ~SocketEventSink() override;
  SocketEventSink(const SocketEventSink&) = delete;
  SocketEventSink& operator=(const SocketEventSink&) = delete;

  // SerializationError for an event holding a value that cannot travel (nothing is sent).
  void send(const protocol::Event& event) override;
  void send_draft(const protocol::EventDraft& draft) override;
  // Waits until the server acknowledged every event sent (or the sink fell back and the
  // fallback journal holds them).
  void flush() override;

  // False once the sink went on in its fallback journal.
  bool connected() const;

 private:
  struct Sync {
    std::uint64_t id;
    std::uint64_t lines;  // event lines of the connection up to it
  };
  // Whole lines the sink's thread took from the runner at once, kept as they were queued
  // until the server acknowledged them.
  struct Batch {
    protocol::LineBuffer lines;
    std::uint64_t count = 0;
  };

  // Queues the line `write` appends, once the runner may hold one more event.
  template <class Write>
  void enqueue(Write&& write);

  // Everything below runs on the sink's thread only (and in the constructor, before it).
  void run();
  void take(Batch batch);
  bool connect_and_greet(std::string& why);
  // Says once why, closes the connection and goes on in the fallback journal, starting with
  // the events the server did not acknowledge.
  void fall_back(const std::string& why);
  // Takes the answers the server sent before it went: a sync's answer, a refusal.
  void drain();
  void to_fallback(std::string_view lines);
  void lose_fallback(const std::string& why);
  void say(const std::string& text);
  bool request_sync();
  // Waits until at most `keep` syncs are unanswered; false after falling back on a fault.
  bool await_syncs(std::size_t keep);
  // Writes the pending lines not yet written; false after falling back.
  bool write_pending();
  // Writes all of it, receiving answers while the socket is full; false with why on a fault.
  bool write_bytes(const char* data, std::size_t size, std::string& why);
  // Receives what has arrived, waiting at most `wait` for it; false with why on a fault.
  bool receive(std::chrono::milliseconds wait, std::string& why);
  // Receives and takes every whole answer; false after falling back.
  bool read_answers(std::chrono::milliseconds wait);
  bool take_answer(const std::string& line, std::string& why);
  // Forgets the pending batches up to connection line `lines`.
  void acknowledge(std::uint64_t lines);
  std::uint64_t lines_held() const { return pending_lines_; }

  SocketSinkOptions options_;
  std::ostream* diagnostics_;

  // Shared between the runner's thread and the sink's.
  mutable std::mutex mutex_;
  std::condition_variable work_;     // the sink's thread has something to do
  std::condition_variable room_;     // the runner may queue again, or a flush is done
  protocol::LineBuffer queue_;       // lines queued by the runner, not yet taken
  std::uint64_t queued_lines_ = 0;
  // Emptied batches, which keep their room for the runner's next queue: at most as many as
  // were held at once.
  std::vector<protocol::LineBuffer> spare_;
  std::size_t held_ = 0;             // events queued or unacknowledged
  std::uint64_t flush_asked_ = 0;
  std::uint64_t flush_done_ = 0;
  bool stopping_ = false;
  bool fell_back_ = false;

  // The sink's thread's own.
  int fd_ = -1;
  std::unique_ptr<journal::JournalWriter> fallback_;
  bool fallback_dirty_ = false;
  std::size_t released_ = 0;  // events freed in this round: acknowledged or in the fallback
  // The batches not yet acknowledged, from line first_pending_ of the connection; those from
  // unwritten_ on are not yet written to the socket.
  std::deque<Batch> pending_;
  std::size_t unwritten_ = 0;
  std::uint64_t pending_lines_ = 0;
  std::uint64_t first_pending_ = 1;
  std::vector<protocol::LineBuffer> freed_;  // batches done with in this round, to become spares
  std::vector<std::uint64_t> refused_;  // refused lines still in pending_, ascending
  std::uint64_t journaled_ = 0;         // events in the server's journal at the last answer
  std::uint64_t next_sync_id_ = 1;
  std::uint64_t synced_lines_ = 0;  // lines covered by the last sync asked
  std::deque<Sync> syncs_;
  std::chrono::steady_clock::time_point last_sync_;
  std::string incoming_;
  std::size_t refusals_ = 0;
  std::thread thread_;
};

// The root of a job recorded through a reporter server: RecordingTrialKit::create over a
// SocketEventSink, so a runner switches by changing how it makes the root.
std::shared_ptr<protocol::RecordingTrialKit> connect_trialkit(SocketSinkOptions options,
                                                              Value id, Value seq_num,
                                                              Value type = {});

}  // namespace morvi::service::clients
#pragma GCC visibility pop
