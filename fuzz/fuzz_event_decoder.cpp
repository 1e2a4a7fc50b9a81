// The event decoder and the tree builder on arbitrary lines: each line decodes or is refused
// with a ProtocolError, a decoded event encodes back to a line that decodes to the same
// encoding, and the tree takes each event or refuses it; the tree's documents are then
// written. Never a crash.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "morvi/service/protocol/tree_builder.hpp"

using morvi::service::protocol::ProtocolError;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  morvi::service::protocol::TreeBuilder builder;
  std::size_t begin = 0;
  while (begin <= input.size()) {
    std::size_t end = input.find('\n', begin);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(begin, end - begin);
    begin = end + 1;
    morvi::service::protocol::Event event;
    try {
      event = morvi::service::protocol::decode_event(line);
    } catch (const ProtocolError&) {
      continue;
    }
    const std::string encoded = morvi::service::protocol::encode_event(event);
    if (morvi::service::protocol::encode_event(morvi::service::protocol::decode_event(encoded)) !=
        encoded)
      std::abort();
    try {
      builder.apply(event);
    } catch (const ProtocolError&) {
    }
  }
  if (const auto job = builder.trialkit()) {
    builder.close_running("ended");
    try {
      (void)job->dump_json();
      (void)job->dump_yaml();
    } catch (const morvi::SerializationError&) {
    }
  }
  return 0;
}
