#include "morvi/reporter/schema/fast_check.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <regex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace morvi::reporter::schema {

namespace {

using json = nlohmann::json;
namespace dom = simdjson::dom;

enum TypeBit : unsigned {
  kNull = 1U << 0,
  kBoolean = 1U << 1,
  kObject = 1U << 2,
  kArray = 1U << 3,
  kNumber = 1U << 4,
  kString = 1U << 5,
  kInteger = 1U << 6,
};

// The timestamp pattern of the results schema. Strings matching it are checked by hand, as
// std::regex costs more than all the rest of the check on a large file.
constexpr std::string_view kTimePattern =
    R"(^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{6})?([+-][0-9]{2}:[0-9]{2})?$)";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// `text` has `shape` at `at`, where 'd' stands for any digit and every other character for
// itself.
bool has_shape(std::string_view text, std::size_t at, std::string_view shape) {
  if (text.size() - at < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const char c = text[at + i];
    if (shape[i] == 'd' ? !is_digit(c) : c != shape[i]) return false;
  }
  return true;
}

// Whether kTimePattern finds a match in `text`. Anchored at both ends, it matches the whole
// text: the date and time, then an optional ".dddddd", then an optional "+dd:dd" or "-dd:dd".
// The two optional parts start with different characters, so no choice ever needs undoing.
bool matches_time_pattern(std::string_view text) {
  if (!has_shape(text, 0, "dddd-dd-dd dd:dd:dd")) return false;
  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    if (!has_shape(text, at, ".dddddd")) return false;
    at += 7;
  }
  if (at == text.size()) return true;
  return text.size() - at == 6 && (text[at] == '+' || text[at] == '-') &&
         has_shape(text, at + 1, "dd:dd");
}

struct Member {
  std::optional<std::size_t> schema;  // from "properties"; none for a name only required
  std::uint64_t required_bit = 0;
};

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// One subschema, reduced to the keywords the quick check knows. `unknown` marks a subschema
// using anything else: it is never shown valid here.
struct Node {
  bool unknown = false;
  std::optional<std::size_t> ref;
  unsigned types = 0;  // 0: any type
  std::optional<std::vector<std::string>> allowed_strings;  // from "enum" and "const"
  // Objects.
  std::unordered_map<std::string, Member, StringHash, std::equal_to<>> members;
  std::uint64_t required_mask = 0;
  bool additional_allowed = true;
  std::optional<std::size_t> additional;
  std::size_t min_properties = 0;
  // Arrays.
  std::optional<std::size_t> items;
  std::size_t min_items = 0;
  // Strings.
  std::size_t min_length = 0;
  bool time_pattern = false;
  std::unique_ptr<std::regex> pattern;
};

class CompiledSchema {
 public:
  explicit CompiledSchema(const json& schema) : root_document_(schema) { compile(schema); }

  bool holds(dom::element value) const { return holds(0, value); }

 private:
  std::size_t compile(const json& schema) {
    const std::size_t index = nodes_.size();
    nodes_.emplace_back();
    Node node = build(schema);
    nodes_[index] = std::move(node);
    return index;
  }

  std::size_t compile_definition(const std::string& name) {
    if (const auto found = definitions_.find(name); found != definitions_.end()) {
      return found->second;
    }
    const std::size_t index = nodes_.size();
    nodes_.emplace_back();
    definitions_.emplace(name, index);  // before compiling: definitions refer to themselves
    const json* definitions = root_document_.is_object() && root_document_.contains("definitions")
                                  ? &root_document_["definitions"]
                                  : nullptr;
    Node node;
    if (definitions && definitions->is_object() && definitions->contains(name)) {
      node = build((*definitions)[name]);
    } else {
      node.unknown = true;
    }
    nodes_[index] = std::move(node);
    return index;
  }

  Node build(const json& schema) {
    Node node;
    if (schema.is_boolean()) {
      node.unknown = !schema.get<bool>();
      return node;
    }
    if (!schema.is_object()) {
      node.unknown = true;
      return node;
    }
    for (const auto& [keyword, value] : schema.items()) {
      if (!apply(keyword, value, node)) node.unknown = true;
    }
    // Draft 7 ignores every keyword next to "$ref"; rather than mirror that, leave such
    // subschemas to the full validator.
    if (node.ref && schema.size() > 1) node.unknown = true;
    return node;
  }

  // Records one keyword into `node`; false for a keyword or form the quick check does not know.
  bool apply(const std::string& keyword, const json& value, Node& node) {
    if (keyword == "$schema" || keyword == "title" || keyword == "description" ||
        keyword == "$comment" || keyword == "definitions") {
      return true;
    }
    if (keyword == "$ref") {
      static constexpr std::string_view prefix = "#/definitions/";
      if (!value.is_string()) return false;
      const std::string& target = value.get_ref<const std::string&>();
      if (!target.starts_with(prefix) ||
          target.find_first_of("/~%", prefix.size()) != std::string::npos) {
        return false;
      }
      node.ref = compile_definition(target.substr(prefix.size()));
      return true;
    }
    if (keyword == "type") return apply_type(value, node);
    if (keyword == "enum" || keyword == "const") {
      const json values = keyword == "const" ? json::array({value}) : value;
      if (!values.is_array() || node.allowed_strings) return false;
      std::vector<std::string> strings;
      for (const json& allowed : values) {
        if (!allowed.is_string()) return false;
        strings.push_back(allowed.get<std::string>());
      }
      node.allowed_strings = std::move(strings);
      return true;
    }
    if (keyword == "properties") {
      if (!value.is_object()) return false;
      for (const auto& [name, subschema] : value.items()) {
        node.members[name].schema = compile(subschema);
      }
      return true;
    }
    if (keyword == "required") {
      if (!value.is_array()) return false;
      for (const json& name : value) {
        if (!name.is_string()) return false;
        Member& member = node.members[name.get<std::string>()];
        if (member.required_bit != 0) continue;
        const std::size_t bit = static_cast<std::size_t>(std::popcount(node.required_mask));
        if (bit == 64) return false;
        member.required_bit = std::uint64_t{1} << bit;
        node.required_mask |= member.required_bit;
      }
      return true;
    }
    if (keyword == "additionalProperties") {
      if (value.is_boolean()) {
        node.additional_allowed = value.get<bool>();
      } else {
        node.additional = compile(value);
      }
      return true;
    }
    if (keyword == "items") {
      if (!value.is_object() && !value.is_boolean()) return false;
      node.items = compile(value);
      return true;
    }
    if (keyword == "minProperties" || keyword == "minItems" || keyword == "minLength") {
      if (!value.is_number_unsigned()) return false;
      const auto limit = value.get<std::size_t>();
      (keyword == "minProperties" ? node.min_properties
       : keyword == "minItems"    ? node.min_items
                                  : node.min_length) = limit;
      return true;
    }
    if (keyword == "pattern") {
      if (!value.is_string()) return false;
      const std::string& pattern = value.get_ref<const std::string&>();
      if (pattern == kTimePattern) {
        node.time_pattern = true;
      } else {
        try {
          node.pattern = std::make_unique<std::regex>(pattern);
        } catch (const std::regex_error&) {
          return false;
        }
      }
      return true;
    }
    return false;
  }

  static bool apply_type(const json& value, Node& node) {
    const json names = value.is_array() ? value : json::array({value});
    for (const json& name : names) {
      if (!name.is_string()) return false;
      const std::string& type = name.get_ref<const std::string&>();
      if (type == "null") node.types |= kNull;
      else if (type == "boolean") node.types |= kBoolean;
      else if (type == "object") node.types |= kObject;
      else if (type == "array") node.types |= kArray;
      else if (type == "number") node.types |= kNumber;
      else if (type == "string") node.types |= kString;
      else if (type == "integer") node.types |= kInteger;
      else return false;
    }
    return !names.empty();
  }

  // A whole number counts as an integer however it is written (2.0, 1e2), as JSON Schema has
  // it and as the full validator checks it.
  static unsigned type_bits(const dom::element& value) {
    switch (value.type()) {
      case dom::element_type::ARRAY: return kArray;
      case dom::element_type::OBJECT: return kObject;
      case dom::element_type::INT64:
      case dom::element_type::UINT64: return kNumber | kInteger;
      case dom::element_type::DOUBLE: {
        const double x = value.get_double().value_unsafe();
        return std::trunc(x) == x ? kNumber | kInteger : kNumber;
      }
      case dom::element_type::STRING: return kString;
      case dom::element_type::BOOL: return kBoolean;
      case dom::element_type::NULL_VALUE: return kNull;
    }
    return 0;
  }

  // Recursion follows the document's nesting, which the parser has bounded by MAX_DEPTH.
  bool holds(std::size_t index, const dom::element& value) const {
    const Node& node = nodes_[index];
    if (node.unknown) return false;
    if (node.ref) return holds(*node.ref, value);
    if (node.types != 0 && (node.types & type_bits(value)) == 0) return false;
    switch (value.type()) {
      case dom::element_type::STRING:
        return string_holds(node, value.get_string().value_unsafe());
      case dom::element_type::ARRAY:
        return !node.allowed_strings && array_holds(node, value.get_array().value_unsafe());
      case dom::element_type::OBJECT:
        return !node.allowed_strings && object_holds(node, value.get_object().value_unsafe());
      default:
        return !node.allowed_strings;
    }
  }

  static bool string_holds(const Node& node, std::string_view text) {
    if (node.allowed_strings &&
        std::find(node.allowed_strings->begin(), node.allowed_strings->end(), text) ==
            node.allowed_strings->end()) {
      return false;
    }
    if (node.min_length > 0) {
      // Length in code points: every byte but UTF-8 continuation bytes starts one.
      const auto code_points = static_cast<std::size_t>(std::count_if(
          text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
      if (code_points < node.min_length) return false;
    }
    if (node.time_pattern && !matches_time_pattern(text)) return false;
    if (node.pattern && !std::regex_search(text.begin(), text.end(), *node.pattern)) return false;
    return true;
  }

  bool array_holds(const Node& node, const dom::array& array) const {
    if (array.size() < node.min_items) return false;
    if (!node.items) return true;
    for (const dom::element item : array) {
      if (!holds(*node.items, item)) return false;
    }
    return true;
  }

  bool object_holds(const Node& node, const dom::object& object) const {
    std::uint64_t seen = 0;
    std::size_t count = 0;
    for (const dom::key_value_pair field : object) {
      ++count;
      const auto member = node.members.find(field.key);
      if (member != node.members.end()) {
        seen |= member->second.required_bit;
        if (member->second.schema) {
          if (!holds(*member->second.schema, field.value)) return false;
          continue;
        }
      }
      if (!node.additional_allowed) return false;
      if (node.additional && !holds(*node.additional, field.value)) return false;
    }
    if (seen != node.required_mask) return false;
    if (count < node.min_properties) return false;
    // A name given twice counts once.
    if (node.min_properties > 1) {
      std::unordered_set<std::string_view> names;
      for (const dom::key_value_pair field : object) names.insert(field.key);
      if (names.size() < node.min_properties) return false;
    }
    return true;
  }

  const json& root_document_;
  std::vector<Node> nodes_;
  std::unordered_map<std::string, std::size_t> definitions_;
};

const CompiledSchema& compiled_results_schema() {
  static const json document = json::parse(results_schema_text());
  static const CompiledSchema compiled(document);
  return compiled;
}

}  // namespace

bool quickly_valid(const std::string& text) {
  dom::parser parser;
  if (parser.allocate(std::max<std::size_t>(text.size(), simdjson::SIMDJSON_PADDING), MAX_DEPTH) !=
      simdjson::SUCCESS) {
    return false;
  }
  dom::element root;
  if (parser.parse(text).get(root) != simdjson::SUCCESS) return false;
  return compiled_results_schema().holds(root);
}

std::optional<std::string> validate_results_text(const std::string& text, std::string_view origin) {
  if (quickly_valid(text)) return std::nullopt;
  return validate(parse_results_json(text, origin));
}

Findings check_results_text(const std::string& text, std::string_view origin) {
  if (quickly_valid(text)) return {};
  return find_problems(parse_results_json(text, origin));
}

}  // namespace morvi::reporter::schema
