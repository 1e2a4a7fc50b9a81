#include "morvi/service/clients/socket_event_sink.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

namespace morvi::service::clients {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The sink's thread writes what the runner queued at least this often.
constexpr milliseconds kWake{5};
// Queued bytes that wake the sink's thread at once.
constexpr std::size_t kBatchBytes = 64 << 10;
// Answers are short; a server sending more than this without a newline is not one.
constexpr std::size_t kMaxAnswer = 1 << 20;
// Refusals told one by one; later ones only counted.
constexpr std::size_t kRefusalsTold = 5;

std::string system_text(int error) { return std::system_category().message(error); }

std::string duration_text(milliseconds wait) {
  return std::to_string(wait.count()) + " ms";
}

// True when the answer's member `key` is the JSON true.
bool is_true(const nlohmann::json& answer, const char* key) {
  const auto it = answer.find(key);
  return it != answer.end() && it->is_boolean() && it->get<bool>();
}

milliseconds left_until(Clock::time_point deadline) {
  return std::max(milliseconds(0),
                  std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

}  // namespace

SocketEventSink::SocketEventSink(SocketSinkOptions options)
    : options_(std::move(options)),
      diagnostics_(options_.diagnostics ? options_.diagnostics : &std::cerr),
      last_sync_(Clock::now()) {
  options_.max_unacknowledged = std::max<std::size_t>(options_.max_unacknowledged, 1);
  options_.sync_every = std::clamp<std::size_t>(options_.sync_every, 1,
                                                options_.max_unacknowledged);
  std::string why;
  if (!connect_and_greet(why)) fall_back(why);
  thread_ = std::thread([this] { run(); });
}

SocketEventSink::~SocketEventSink() {
  flush();
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_one();
  thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

bool SocketEventSink::connected() const {
  const std::lock_guard lock(mutex_);
  return !fell_back_;
}

void SocketEventSink::send(const protocol::Event& event) {
  enqueue([&](protocol::LineBuffer& queue) { protocol::append_event(queue, event); });
}

void SocketEventSink::send_draft(const protocol::EventDraft& draft) {
  enqueue([&](protocol::LineBuffer& queue) { protocol::append_event(queue, draft); });
}

template <class Write>
void SocketEventSink::enqueue(Write&& write) {
  std::unique_lock lock(mutex_);
  room_.wait(lock, [&] { return held_ < options_.max_unacknowledged; });
  // Straight into the queue: the sink's thread takes it whole every few milliseconds, so the
  // lock is seldom contended, and the queue keeps its room from batch to batch.
  const std::size_t before = queue_.size();
  write(queue_);
  queue_.push_back('\n');
  ++queued_lines_;
  ++held_;
  // A batch that became full, or the most the runner may hold, goes out at once: the sink's
  // thread is told once, not again for every line queued before it takes them.
  if ((before < kBatchBytes && queue_.size() >= kBatchBytes) ||
      held_ == options_.max_unacknowledged)
    work_.notify_one();
}

void SocketEventSink::flush() {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = ++flush_asked_;
  work_.notify_one();
  room_.wait(lock, [&] { return flush_done_ >= target; });
}

void SocketEventSink::run() {
  Clock::time_point last_fallback_flush = Clock::now();
  std::unique_lock lock(mutex_);
  for (;;) {
    work_.wait_for(lock, kWake, [&] {
      return stopping_ || queue_.size() >= kBatchBytes || flush_asked_ > flush_done_;
    });
    // The runner goes on in an emptied batch, or in a new one with the room of the one taken.
    Batch batch{std::move(queue_), queued_lines_};
    queued_lines_ = 0;
    queue_.clear();
    if (!spare_.empty()) {
      queue_ = std::move(spare_.back());
      spare_.pop_back();
    } else {
      queue_.reserve(batch.lines.capacity());
    }
    const std::uint64_t flush_target = flush_asked_;
    const bool stop = stopping_;
    lock.unlock();

    released_ = 0;
    take(std::move(batch));
    if (fd_ >= 0 && write_pending() && read_answers(milliseconds(0))) {
      const std::uint64_t unsynced = first_pending_ - 1 + lines_held() - synced_lines_;
      if (unsynced >= options_.sync_every ||
          (unsynced > 0 && Clock::now() - last_sync_ >= options_.sync_interval))
        request_sync();
      // The runner waits while this many are held: free the oldest synced ones.
      if (fd_ >= 0 && lines_held() >= options_.max_unacknowledged) {
        if (syncs_.empty()) request_sync();
        if (fd_ >= 0) await_syncs(syncs_.size() - 1);
      }
    }
    const bool flushing = flush_target > flush_done_;
    if (flushing && fd_ >= 0 && request_sync()) await_syncs(0);
    if (fallback_ && fallback_dirty_ &&
        (flushing || Clock::now() - last_fallback_flush >= options_.sync_interval)) {
      try {
        fallback_->flush();
      } catch (const std::system_error& e) {
        lose_fallback(e.what());
      }
      fallback_dirty_ = false;
      last_fallback_flush = Clock::now();
    }

    lock.lock();
    for (protocol::LineBuffer& freed : freed_) {
      freed.clear();
      spare_.push_back(std::move(freed));
    }
    freed_.clear();
    held_ -= released_;
    if (flushing) flush_done_ = flush_target;
    if (released_ > 0 || flushing) room_.notify_all();
    if (stop && queue_.empty()) return;
  }
}

void SocketEventSink::take(Batch batch) {
  if (batch.count == 0) return;
  if (fd_ < 0) {
    to_fallback(batch.lines.view());
    freed_.push_back(std::move(batch.lines));
    return;
  }
  pending_lines_ += batch.count;
  pending_.push_back(std::move(batch));
}

void SocketEventSink::to_fallback(std::string_view lines) {
  std::size_t begin = 0;
  while (begin < lines.size()) {
    const std::size_t end = lines.find('\n', begin);
    if (fallback_) {
      try {
        fallback_->append(std::string(lines.substr(begin, end - begin)));
        fallback_dirty_ = true;
      } catch (const std::system_error& e) {
        lose_fallback(e.what());
      }
    }
    ++released_;
    begin = end + 1;
  }
}

void SocketEventSink::lose_fallback(const std::string& why) {
  say("morvi: " + why + "; the job's later events are not reported");
  fallback_.reset();
}

void SocketEventSink::say(const std::string& text) { *diagnostics_ << text << std::endl; }

bool SocketEventSink::connect_and_greet(std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (options_.socket_path.size() >= sizeof address.sun_path) {
    why = "cannot be reached: the path is longer than " +
          std::to_string(sizeof address.sun_path - 1) + " bytes";
    return false;
  }
  std::memcpy(address.sun_path, options_.socket_path.data(), options_.socket_path.size());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    why = "cannot be reached: " + system_text(errno);
    return false;
  }
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    why = errno == EAGAIN ? "accepts no more connections"
                          : "cannot be reached: " + system_text(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  const std::string hello = nlohmann::json{{"hello", protocol::kFormat},
                                           {"version", protocol::kVersion},
                                           {"role", "runner"}}.dump() + "\n";
  const Clock::time_point deadline = Clock::now() + options_.timeout;
  std::size_t newline = std::string::npos;
  if (!write_bytes(hello.data(), hello.size(), why)) return false;
  while ((newline = incoming_.find('\n')) == std::string::npos) {
    const milliseconds left = left_until(deadline);
    if (left.count() == 0) {
      why = "did not answer the hello within " + duration_text(options_.timeout);
      return false;
    }
    if (!receive(left, why)) return false;
  }
  const std::string answer = incoming_.substr(0, newline);
  incoming_.erase(0, newline + 1);
  const nlohmann::json reply = nlohmann::json::parse(answer, nullptr, false);
  if (reply.is_object() && is_true(reply, "ok")) return true;
  why = "refused the runner";
  if (reply.is_object() && reply.contains("error") && reply["error"].is_string())
    why += ": " + reply["error"].get<std::string>();
  else
    why += " with the answer " + answer.substr(0, 200);
  return false;
}

void SocketEventSink::fall_back(const std::string& why) {
  if (fd_ >= 0) {
    drain();
    ::close(fd_);
  }
  fd_ = -1;
  syncs_.clear();
  {
    const std::lock_guard lock(mutex_);
    fell_back_ = true;
  }
  say("morvi: the reporter server at '" + options_.socket_path + "' " + why +
      "; the job's events go on in the journal '" + options_.fallback_path + "'");
  std::error_code ignored;
  std::filesystem::remove(options_.fallback_path, ignored);
  try {
    fallback_ = std::make_unique<journal::JournalWriter>(options_.fallback_path,
                                                         options_.fallback_fsync, journaled_ + 1);
  } catch (const std::system_error& e) {
    say(std::string("morvi: ") + e.what() + "; the job's later events are not reported");
  }
  // The events the server did not acknowledge, except those it refused.
  std::uint64_t number = first_pending_;
  auto refused = refused_.begin();
  for (Batch& batch : pending_) {
    const std::string_view lines = batch.lines.view();
    for (std::size_t begin = 0; begin < lines.size(); ++number) {
      const std::size_t end = lines.find('\n', begin) + 1;
      while (refused != refused_.end() && *refused < number) ++refused;
      if (refused != refused_.end() && *refused == number)
        ++released_;
      else
        to_fallback(lines.substr(begin, end - begin));
      begin = end;
    }
    freed_.push_back(std::move(batch.lines));
  }
  pending_.clear();
  unwritten_ = 0;
  pending_lines_ = 0;
  refused_.clear();
}

void SocketEventSink::drain() {
  char buffer[16 << 10];
  while (incoming_.size() <= kMaxAnswer) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      incoming_.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  std::string why;
  std::size_t begin = 0;
  for (std::size_t end = incoming_.find('\n'); end != std::string::npos;
       end = incoming_.find('\n', begin)) {
    if (!take_answer(incoming_.substr(begin, end - begin), why)) break;
    begin = end + 1;
  }
  incoming_.clear();
}

bool SocketEventSink::write_bytes(const char* data, std::size_t size, std::string& why) {
  const Clock::time_point deadline = Clock::now() + options_.timeout;
  while (size > 0) {
    const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const milliseconds left = left_until(deadline);
      if (left.count() == 0) {
        why = "took no events for " + duration_text(options_.timeout);
        return false;
      }
      pollfd ready{fd_, POLLOUT | POLLIN, 0};
      if (::poll(&ready, 1, static_cast<int>(left.count())) > 0 && (ready.revents & POLLIN) &&
          !receive(milliseconds(0), why))
        return false;
      continue;
    }
    why = "went away (" + system_text(errno) + ")";
    return false;
  }
  return true;
}

bool SocketEventSink::write_pending() {
  // Answers are only received while writing, never processed, so pending_ stays in place.
  std::string why;
  for (; unwritten_ < pending_.size(); ++unwritten_) {
    const std::string_view lines = pending_[unwritten_].lines.view();
    if (!write_bytes(lines.data(), lines.size(), why)) {
      fall_back(why);
      return false;
    }
  }
  return true;
}

bool SocketEventSink::receive(milliseconds wait, std::string& why) {
  pollfd ready{fd_, POLLIN, 0};
  const int polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
  if (polled < 0 && errno != EINTR) {
    why = "cannot be read (" + system_text(errno) + ")";
    return false;
  }
  if (polled <= 0) return true;
  char buffer[16 << 10];
  const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n == 0) {
    why = "closed the connection";
    return false;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
    why = "went away (" + system_text(errno) + ")";
    return false;
  }
  incoming_.append(buffer, static_cast<std::size_t>(n));
  if (incoming_.size() > kMaxAnswer && incoming_.find('\n') == std::string::npos) {
    why = "sent an answer longer than " + std::to_string(kMaxAnswer) + " bytes";
    return false;
  }
  return true;
}

bool SocketEventSink::read_answers(milliseconds wait) {
  std::string why;
  if (!receive(wait, why)) {
    fall_back(why);
    return false;
  }
  std::size_t begin = 0;
  for (std::size_t end = incoming_.find('\n'); end != std::string::npos;
       end = incoming_.find('\n', begin)) {
    const std::string line = incoming_.substr(begin, end - begin);
    begin = end + 1;
    if (!take_answer(line, why)) {
      fall_back(why);
      return false;
    }
  }
  incoming_.erase(0, begin);
  return true;
}

bool SocketEventSink::take_answer(const std::string& line, std::string& why) {
  const nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
  if (!answer.is_object()) {
    why = "sent an answer that is not a JSON object: " + line.substr(0, 200);
    return false;
  }
  if (const auto reply = answer.find("reply"); reply != answer.end()) {
    if (syncs_.empty() || !reply->is_number_unsigned() ||
        reply->get<std::uint64_t>() != syncs_.front().id) {
      why = "answered a sync it was not asked: " + line.substr(0, 200);
      return false;
    }
    if (!is_true(answer, "ok")) {
      why = "refused a sync: " + line.substr(0, 200);
      return false;
    }
    const auto applied = answer.find("applied");
    if (applied != answer.end() && applied->is_number_unsigned())
      journaled_ = applied->get<std::uint64_t>();
    acknowledge(syncs_.front().lines);
    syncs_.pop_front();
    return true;
  }
  // An error that names no event: the server takes no more events (its journal cannot be
  // written), and this job goes on without it.
  if (answer.find("refused") == answer.end() && answer.contains("ok") && !is_true(answer, "ok")) {
    const auto error = answer.find("error");
    why = "stopped taking events: " +
          (error != answer.end() && error->is_string() ? error->get<std::string>()
                                                       : line.substr(0, 200));
    return false;
  }
  if (const auto refused = answer.find("refused"); refused != answer.end()) {
    if (!refused->is_number_unsigned()) {
      why = "sent a refusal without an event number: " + line.substr(0, 200);
      return false;
    }
    const std::uint64_t number = refused->get<std::uint64_t>();
    if (number >= first_pending_ && (refused_.empty() || refused_.back() < number))
      refused_.push_back(number);
    if (++refusals_ <= kRefusalsTold) {
      const auto event = answer.find("event");
      const auto error = answer.find("error");
      say("morvi: the reporter server refused event " + std::to_string(number) +
          (event != answer.end() && event->is_string() ? " (" + event->get<std::string>() + ")"
                                                       : std::string()) +
          ": " + (error != answer.end() && error->is_string() ? error->get<std::string>()
                                                              : std::string("no reason given")));
    } else if (refusals_ == kRefusalsTold + 1) {
      say("morvi: the reporter server refused further events; they are not shown");
    }
  }
  return true;
}

void SocketEventSink::acknowledge(std::uint64_t lines) {
  // A sync is asked only once every batch taken is written, so it covers whole batches.
  std::uint64_t count = 0;
  while (!pending_.empty() && first_pending_ + count + pending_.front().count <= lines + 1) {
    count += pending_.front().count;
    freed_.push_back(std::move(pending_.front().lines));
    pending_.pop_front();
    --unwritten_;
  }
  if (count == 0) return;
  pending_lines_ -= count;
  first_pending_ += count;
  refused_.erase(refused_.begin(),
                 std::lower_bound(refused_.begin(), refused_.end(), first_pending_));
  released_ += count;
}

bool SocketEventSink::request_sync() {
  if (!write_pending()) return false;
  const Sync sync{next_sync_id_++, first_pending_ - 1 + lines_held()};
  const std::string line = "{\"request\":\"sync\",\"id\":" + std::to_string(sync.id) + "}\n";
  std::string why;
  if (!write_bytes(line.data(), line.size(), why)) {
    fall_back(why);
    return false;
  }
  syncs_.push_back(sync);
  synced_lines_ = sync.lines;
  last_sync_ = Clock::now();
  return true;
}

bool SocketEventSink::await_syncs(std::size_t keep) {
  const Clock::time_point deadline = Clock::now() + options_.timeout;
  while (syncs_.size() > keep) {
    const milliseconds left = left_until(deadline);
    if (left.count() == 0) {
      fall_back("did not answer a sync within " + duration_text(options_.timeout));
      return false;
    }
    if (!read_answers(left)) return false;
  }
  return true;
}

std::shared_ptr<protocol::RecordingTrialKit> connect_trialkit(SocketSinkOptions options,
                                                              Value id, Value seq_num,
                                                              Value type) {
  return protocol::RecordingTrialKit::create(
      std::make_shared<SocketEventSink>(std::move(options)), std::move(id), std::move(seq_num),
      std::move(type));
}

}  // namespace morvi::service::clients
