#pragma once
// An event as the tree builder applies it: each argument already in the parameter of the node
// operation it feeds (the new node's id, the options of start, the data of update, ...) rather
// than in a map of argument names. A line is read into one in a single pass, with no map of
// arguments made and taken apart again; a replay and a server read every event this way.
#include <optional>
#include <string_view>

#include "morvi/datetime.hpp"
#include "morvi/service/protocol/event.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

struct Operation {
  EventKind kind = EventKind::roll_up;
  Handle node = 0;
  Handle child = 0;
  // create_trialkit and add_*: the new node's id, seq_num and type (none when not given).
  Value id;
  Value seq_num;
  Value type;
  // start and stop: the options; update and update_extra: the data.
  Map map;
  // start and stop: the runner's clock reading, when the node read its clock.
  std::optional<DateTime> time;
  // start and stop: each log file's size in bytes, or none where the runner could not tell it;
  // nothing when the event carries no sizes.
  std::optional<Map> file_sizes;
  // update_extra
  bool list_extend = false;
  // add_detail: the detail; set_result: the result.
  Value value;
};

// The operation of the line. ProtocolError as decode_event, with the same message, for every
// line decode_event refuses; any other line gives the operation of decode_event's event.
Operation decode_operation(std::string_view line);

// The operation of an event: its arguments checked as decode_event checks a line's (ProtocolError
// naming the event and the argument), then moved out of it.
Operation operation_of(Event&& event);

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
