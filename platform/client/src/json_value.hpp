#pragma once
// JSON values as morvi Values.
#include <nlohmann/json.hpp>

#include "morvi/value.hpp"

namespace morvi::reporter::client {

// Objects become maps (member order kept), arrays lists, and numbers ints or floats (an
// unsigned number beyond the int range becomes a float). Works with an explicit stack, so the
// nesting depth costs no call depth.
Value to_value(const nlohmann::ordered_json& json);

}  // namespace morvi::reporter::client
