#pragma once
// The words of a SAX reader's refusal of text that is not JSON.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#pragma GCC visibility push(default)
namespace morvi::json_stream {

// "ORIGIN: not a JSON document at byte N: WHAT", without the error id nlohmann's messages lead
// with.
std::string not_json_message(std::string_view origin, std::size_t position,
                             const nlohmann::detail::exception& error);

}  // namespace morvi::json_stream
#pragma GCC visibility pop
