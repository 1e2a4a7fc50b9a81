#pragma once
// The typed JSON form of a Value, which round-trips every kind but report nodes exactly.
//
//   none, bool, text, list      null, true/false, "text", [ ... ]
//   int                         a JSON integer (any 64-bit value)
//   float                       a JSON number with a fraction or exponent ("1.0", "-0.0");
//                               {"$": "float", "v": "nan" | "inf" | "-inf"} for the others
//   map                         a JSON object, unless a key is "$": then
//                               {"$": "map", "v": [[key, value], ...]}
//   tuple                       {"$": "tuple", "v": [ ... ]}
//   attr map                    {"$": "attrmap", "v": <map>}
//   date-time                   {"$": "datetime", "v": [y, m, d, H, M, S, us], "offset": minutes}
//                               (no "offset" for a naive one)
//   result                      {"$": "result", "code": "failed", "reason": "...", "data": <map>}
//   tally                       {"$": "tally", "counts": [[key, n], ...], "weight": <float>}
//   error object                {"$": "error", "kind": "ValueError", "args": [ ... ]}
//   opaque object               {"$": "opaque", "type": "Name", "repr": "<Name ...>"}
//
// Nesting deeper than kMaxDepth is refused both ways.
#include <string>

#include <nlohmann/json.hpp>

#include "morvi/service/protocol/protocol.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::protocol {

// JSON objects keep their members in the order given: a map travels in its own order, so the
// documents of a rebuilt tree list its entries as the runner's do.
using Json = nlohmann::ordered_json;

// Appends the encoded text of `value` to `out`, compact, with no white space. SerializationError
// for a report node, nesting past kMaxDepth or a text that is not valid UTF-8.
void write_value(std::string& out, const Value& value);
void write_map(std::string& out, const Map& map);

// The same encoding as a JSON value.
Json encode_value(const Value& value);
// ProtocolError naming the position (a JSON pointer) and the reason for a shape that is not an
// encoded value.
Value decode_value(const Json& json);

Map decode_map(const Json& json);

}  // namespace morvi::service::protocol
#pragma GCC visibility pop
