#include "morvi/json_stream/sax_error.hpp"

namespace morvi::json_stream {

std::string not_json_message(std::string_view origin, std::size_t position,
                             const nlohmann::detail::exception& error) {
  std::string message = error.what();
  if (const auto at = message.find("] "); at != std::string::npos) message.erase(0, at + 2);
  return std::string(origin) + ": not a JSON document at byte " + std::to_string(position) +
         ": " + message;
}

}  // namespace morvi::json_stream
