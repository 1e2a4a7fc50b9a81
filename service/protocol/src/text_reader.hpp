#pragma once
// The fast reader of event lines: straight from the text into an Event, with no JSON tree.
// It takes only lines in the shape the encoder writes; for any other line (malformed, or a
// shape it does not know, or a value it would refuse) it gives up, and the caller decodes the
// line through a JSON tree, which either takes it or says where and why it is refused.
#include <optional>
#include <string_view>

#include "morvi/service/protocol/event.hpp"

namespace morvi::service::protocol {

std::optional<Event> read_event_text(std::string_view line);

}  // namespace morvi::service::protocol
