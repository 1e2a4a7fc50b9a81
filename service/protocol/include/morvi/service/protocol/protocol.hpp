#pragma once
// The event protocol's name, version and limits, shared by the wire and the journal.
#include <cstddef>
#include <string_view>

#include "morvi/errors.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

inline constexpr std::string_view kFormat = "morvi-events";
inline constexpr int kVersion = 1;
// The largest encoded event, in bytes, without its newline.
inline constexpr std::size_t kMaxFrameSize = 64 << 20;
// The deepest nesting of lists and maps a value may have; deeper values are refused on both
// encoding and decoding, so neither side recurses without bound.
inline constexpr int kMaxDepth = 200;

// An event that cannot be decoded or applied; the message names the event and the reason.
class ProtocolError : public ParseError {
 public:
  using ParseError::ParseError;
};

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
