// The YAML writer on values built from the input: libyaml parses the text back to the same
// structure, and single-line texts, numbers and names come back as the same scalars.
#include <yaml.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"

namespace {

using morvi::Value;

// What libyaml read: a scalar's text, or a sequence's items, or a mapping's keys and values.
struct Node {
  enum Kind { Scalar, Sequence, Mapping } kind = Scalar;
  std::string text;
  std::vector<std::unique_ptr<Node>> items;  // mapping: key, value, key, value, ...
};

std::unique_ptr<Node> parse(const std::string& text) {
  yaml_parser_t parser;
  yaml_parser_initialize(&parser);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  std::vector<Node*> open;
  std::unique_ptr<Node> root;
  for (bool done = false; !done;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) std::abort();
    std::unique_ptr<Node> made;
    switch (event.type) {
      case YAML_SCALAR_EVENT:
        made = std::make_unique<Node>();
        made->text.assign(reinterpret_cast<const char*>(event.data.scalar.value), event.data.scalar.length);
        break;
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
        made = std::make_unique<Node>();
        made->kind = event.type == YAML_SEQUENCE_START_EVENT ? Node::Sequence : Node::Mapping;
        break;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: open.pop_back(); break;
      case YAML_ALIAS_EVENT: std::abort();
      case YAML_STREAM_END_EVENT: done = true; break;
      default: break;
    }
    yaml_event_delete(&event);
    if (made) {
      Node* raw = made.get();
      if (open.empty()) root = std::move(made);
      else open.back()->items.push_back(std::move(made));
      if (raw->kind != Node::Scalar) open.push_back(raw);
    }
  }
  yaml_parser_delete(&parser);
  return root;
}

bool single_line(std::string_view s) { return s.find_first_of("\n\r") == std::string_view::npos; }

void check(const Value& v, const Node& n) {
  switch (v.kind()) {
    case morvi::Kind::None:
      if (n.kind != Node::Scalar || n.text != "null") std::abort();
      return;
    case morvi::Kind::Bool:
      if (n.kind != Node::Scalar || n.text != (v.as_bool() ? "true" : "false")) std::abort();
      return;
    case morvi::Kind::Int:
      if (n.kind != Node::Scalar || n.text != std::to_string(v.as_int())) std::abort();
      return;
    case morvi::Kind::Float:
      if (n.kind != Node::Scalar || n.text != morvi::float_repr(morvi::round_decimals(v.as_number(), 2)))
        std::abort();
      return;
    case morvi::Kind::Text:
      if (n.kind != Node::Scalar) std::abort();
      if (morvi::fuzz::valid_utf8(v.as_text()) && single_line(v.as_text()) && n.text != v.as_text())
        std::abort();
      return;
    case morvi::Kind::List:
    case morvi::Kind::Tuple: {
      const auto& items = v.as_list();
      if (n.kind != Node::Sequence || n.items.size() != items.size()) std::abort();
      for (std::size_t i = 0; i < items.size(); ++i) check(items[i], *n.items[i]);
      return;
    }
    case morvi::Kind::Map:
    case morvi::Kind::AttrMap: {
      const auto& m = v.as_map();
      if (n.kind != Node::Mapping || n.items.size() != 2 * m.size()) std::abort();
      // Keys come sorted; match each written key to its entry when the key reads back exactly
      // and only once (keys that differ only in bytes that are not UTF-8 are written alike).
      for (std::size_t i = 0; i < n.items.size(); i += 2) {
        const std::string& key = n.items[i]->text;
        std::size_t written = 0;
        for (std::size_t j = 0; j < n.items.size(); j += 2) written += n.items[j]->text == key;
        const Value* item = m.find(key);
        if (item && written == 1 && morvi::fuzz::valid_utf8(key)) check(*item, *n.items[i + 1]);
      }
      return;
    }
    case morvi::Kind::Result:
      if (n.kind != Node::Mapping || n.items.empty()) std::abort();
      return;
    default: std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  morvi::fuzz::FuzzInput input(data, size);
  const Value v = input.value(6, false);
  const std::string text = morvi::reporter::trialkit::YAMLDumper::dump(v);
  check(v, *parse(text));
  return 0;
}
