#pragma once
// One operation of a runner on its report tree, as it travels on the wire and in the journal.
//
// Nodes are named by handles, never by id (siblings may share an id). Handle 0 is the
// trialkit; each add_* event names the new node's handle in `child`, assigned by the sender in
// strictly increasing order. What `args` holds, by kind:
//   create_trialkit, add_task, add_plugin, add_section   id, seq_num, type
//   start, stop      options (a map), time (the runner's clock reading, when the node read
//                    its clock), file_sizes (a map from log-file path to its size in bytes, or
//                    none when the runner could not tell it)
//   update           data (a map)
//   update_extra     data (a map), list_extend (a bool)
//   add_detail       detail
//   set_result       result
//   roll_up          nothing
//
// On the line an event is {"event": "<kind>", "node": N, ["child": N,] "args": {...}}, with
// every value in the typed encoding of value_codec.hpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "morvi/service/protocol/protocol.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

using Handle = std::uint64_t;
inline constexpr Handle kTrialKitHandle = 0;

enum class EventKind {
  create_trialkit,
  add_task,
  add_plugin,
  add_section,
  start,
  stop,
  update,
  update_extra,
  add_detail,
  set_result,
  roll_up
};

// "create_trialkit", "add_task", ...
std::string_view event_name(EventKind kind) noexcept;
// The kind named `name`; nothing for a name that is not an event.
std::optional<EventKind> event_kind(std::string_view name) noexcept;
// True for the add_* events and create_trialkit, which name a new node.
bool creates_node(EventKind kind) noexcept;

struct Event {
  EventKind kind;
  Handle node = 0;
  Handle child = 0;
  Map args;
};

// An event as its sender holds it: the kind, the handles and its arguments by reference, in
// the order they travel, none of them copied. A sink that keeps lines writes the line straight
// from it; one that needs an Event makes one.
struct EventDraft {
  struct Arg {
    std::string_view key;
    const Value* value;  // one of the two is set
    const Map* map;
  };

  EventKind kind;
  Handle node = 0;
  Handle child = 0;
  // An event carries three arguments at most.
  std::array<Arg, 3> args{};
  std::size_t size = 0;

  void add(std::string_view key, const Value& value) { args[size++] = {key, &value, nullptr}; }
  void add(std::string_view key, const Map& map) { args[size++] = {key, nullptr, &map}; }
  // The event, with copies of the arguments.
  Event event() const;
};

class TextWriter;

// Lines written one after another into memory that keeps the room made ahead of the last one:
// unlike a std::string's, making room for a line clears nothing, and nothing shrinks after it.
class LineBuffer {
 public:
  std::string_view view() const noexcept { return {bytes_.data(), size_}; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // The room made, written or not.
  std::size_t capacity() const noexcept { return bytes_.size(); }
  void clear() noexcept { size_ = 0; }
  // Drops what follows the first `size` bytes.
  void truncate(std::size_t size) noexcept {
    if (size < size_) size_ = size;
  }
  void reserve(std::size_t room) {
    if (bytes_.size() < room) bytes_.resize(room);
  }
  void push_back(char c) {
    if (size_ == bytes_.size()) bytes_.resize(bytes_.empty() ? 256 : 2 * bytes_.size());
    bytes_[size_++] = c;
  }

 private:
  friend class TextWriter;
  std::string bytes_;  // its size is the room made
  std::size_t size_ = 0;
};

// One JSON line, without the newline. SerializationError for a value that cannot travel.
std::string encode_event(const Event& event);
// The same line appended to `out`, which a sender reuses from event to event so the line is
// not grown from nothing each time; on SerializationError `out` is left as it was.
void append_event(std::string& out, const Event& event);
// The line of the draft's event, byte for byte that of encode_event(draft.event()), appended
// to `out` the same way.
void append_event(std::string& out, const EventDraft& draft);
// The same lines, appended to a line buffer, which is left as it was on SerializationError.
void append_event(LineBuffer& out, const Event& event);
void append_event(LineBuffer& out, const EventDraft& draft);

// ProtocolError naming the event (when it got that far) and the reason for a line over
// kMaxFrameSize, invalid UTF-8, text that is not JSON, an unknown event or a bad shape. The
// line is read through a JSON tree, in any layout JSON allows, its arguments in their order;
// what applies events reads them with decode_operation (operation.hpp), which is faster.
Event decode_event(std::string_view line);

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
