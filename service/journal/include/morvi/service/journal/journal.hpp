#pragma once
// The journal: a file of event lines (JSON Lines) that holds everything needed to rebuild a
// report tree. The first line is the header {"format": "morvi-events", "version": 1}; every
// further line is one encoded event, in the order the events were applied.
//
// A crash can leave the last line torn or partial (or as zero bytes a file system left
// behind); the reader drops it with one warning naming its byte offset. A bad line anywhere
// else is an error naming the line.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "morvi/service/protocol/recording.hpp"
#include "morvi/service/protocol/tree_builder.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::journal {

// When the writer asks the operating system to put the lines on the disk: never (the file
// system decides), batch (written out and synced at most every 100 ms of events, so at most
// that much is at risk while events keep coming; an owner that goes idle calls flush), always
// (every event, before append returns).
enum class FsyncPolicy { never, batch, always };

// Appends event lines to a journal file, writing the header when the file is new or empty.
//
// A job's events may be spread over several journals (a runner whose server went away goes on
// in a journal of its own): the header of a journal that does not start with the job's first
// event names the number of its first event, {"format": ..., "version": 1, "first": N}, counted
// over the job's journaled events from 1.
class JournalWriter : public protocol::EventSink {
 public:
  static constexpr std::chrono::milliseconds kBatchInterval{100};

  // std::system_error naming the path when it cannot be opened. `first_event` goes into the
  // header of a new journal.
  JournalWriter(const std::string& path, FsyncPolicy policy, std::uint64_t first_event = 1);
  ~JournalWriter() override;
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Two faults, told apart by type. SerializationError: this one event cannot be a journal
  // line (a value that cannot travel, a line longer than kMaxFrameSize); nothing of it was
  // added and later events go in as before. std::system_error: the file cannot be written;
  // what was held back may be partly written, so the journal should end there.
  void send(const protocol::Event& event) override;
  void send_draft(const protocol::EventDraft& draft) override;
  // Appends one encoded event line (without its newline).
  void append(std::string_view line);
  // Writes out what is held back and syncs it (unless the policy is never).
  void flush() override;

 private:
  void write_out();
  // Writes out and syncs what the policy says, now that a line was added.
  void appended();

  std::string path_;
  FsyncPolicy policy_;
  int fd_ = -1;
  std::string pending_;
  std::chrono::steady_clock::time_point last_sync_;
};

struct Replay {
  protocol::TreeBuilder builder;
  // One per torn last line.
  std::vector<std::string> warnings;
};

// Rebuilds the tree a journal holds, reading it line by line and applying each event as it is
// read. std::system_error when the journal cannot be read; protocol::ProtocolError naming the
// path and line for a missing or foreign header, a bad line before the last, an event the tree
// refuses, and a journal that does not start with the job's first event.
Replay replay(const std::string& path);

// Rebuilds the tree of one job from its journals, in order: each journal's events that the
// ones before it already held are skipped. ProtocolError naming the journal for a gap (a
// journal starting past the event after the last one held so far).
Replay replay(const std::vector<std::string>& paths);

}  // namespace morvi::service::journal
#pragma GCC visibility pop
