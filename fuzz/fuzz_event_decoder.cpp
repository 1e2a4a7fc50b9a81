// The event decoder and the tree builder on arbitrary lines: each line decodes or is refused
// with a ProtocolError, a decoded event encodes back to a line that decodes to the same
// encoding, the line read straight into an operation gives what the JSON path gives (or the
// same refusal), and the tree takes each operation or refuses it; the tree's documents are
// then written. Never a crash.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/protocol/tree_builder.hpp"
#include "morvi/service/protocol/value_codec.hpp"

using morvi::service::protocol::Operation;
using morvi::service::protocol::ProtocolError;

namespace {

// Every field in the typed encoding; an empty text when a value cannot be written.
std::string text_of(const Operation& op) {
  std::string out = std::to_string(static_cast<int>(op.kind)) + " " + std::to_string(op.node) +
                    " " + std::to_string(op.child);
  try {
    for (const morvi::Value* value : {&op.id, &op.seq_num, &op.type, &op.value}) {
      out += ' ';
      morvi::service::protocol::write_value(out, *value);
    }
    out += ' ';
    morvi::service::protocol::write_map(out, op.map);
    out += ' ';
    if (op.time) morvi::service::protocol::write_value(out, morvi::Value(*op.time));
    out += ' ';
    if (op.file_sizes) morvi::service::protocol::write_map(out, *op.file_sizes);
  } catch (const morvi::SerializationError&) {
    return {};
  }
  return out + (op.list_extend ? " extend" : " replace");
}

}  // namespace

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
    std::string refusal;
    try {
      event = morvi::service::protocol::decode_event(line);
    } catch (const ProtocolError& e) {
      refusal = e.what();
    }
    Operation operation;
    try {
      operation = morvi::service::protocol::decode_operation(line);
      if (!refusal.empty()) std::abort();  // read straight, refused through the tree
    } catch (const ProtocolError& e) {
      if (refusal != e.what()) std::abort();
      continue;
    }
    const std::string encoded = morvi::service::protocol::encode_event(event);
    if (morvi::service::protocol::encode_event(morvi::service::protocol::decode_event(encoded)) !=
        encoded)
      std::abort();
    if (text_of(operation) != text_of(morvi::service::protocol::operation_of(std::move(event))))
      std::abort();
    try {
      builder.apply(std::move(operation));
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
