#pragma once
// The fast reader of event lines: straight from the text into an Operation, with no JSON tree
// and no map of arguments. It takes only lines in the shape the encoder writes; for any other
// line (malformed, or a shape it does not know, or a value it would refuse) it gives up, and
// the caller decodes the line through a JSON tree, which either takes it or says where and why
// it is refused.
#include <string_view>

#include "morvi/service/protocol/operation.hpp"

namespace morvi::service::protocol {

// False when it gives up; `out` is then in no particular state.
bool read_operation_text(std::string_view line, Operation& out);

}  // namespace morvi::service::protocol
