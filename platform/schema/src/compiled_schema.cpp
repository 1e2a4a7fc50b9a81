#include "compiled_schema.hpp"

#include <bit>
#include <string>

#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::schema::quick {

namespace {

using json = nlohmann::json;

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

}  // namespace

// Whether kTimePattern finds a match in `text`. Anchored at both ends, it matches the whole
// text: the date and time, then an optional ".dddddd", then an optional "+dd:dd" or "-dd:dd".
// The two optional parts start with different characters, so no choice ever needs undoing.
bool matches_time_pattern(std::string_view text) noexcept {
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

void MemberTable::build(const std::unordered_map<std::string, Member>& members) {
  entries_.assign(members.begin(), members.end());
  std::size_t size = 4;
  while (size < entries_.size() * 2) size *= 2;
  slots_.assign(size, Slot{});
  mask_ = size - 1;
  for (std::uint32_t entry = 0; entry < entries_.size(); ++entry) {
    std::size_t i = slot_of(entries_[entry].first);
    while (slots_[i].entry != kEmpty) i = (i + 1) & mask_;
    slots_[i].entry = entry;
  }
}

CompiledSchema::CompiledSchema(const json& schema) : root_document_(schema) {
  compile(schema);
  any_ = nodes_.size();
  nodes_.emplace_back();
  for (Node& node : nodes_) node.member_table.build(node.members);
}

std::size_t CompiledSchema::compile(const json& schema) {
  const std::size_t index = nodes_.size();
  nodes_.emplace_back();
  Node node = build(schema);
  nodes_[index] = std::move(node);
  return index;
}

std::size_t CompiledSchema::compile_definition(const std::string& name) {
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

Node CompiledSchema::build(const json& schema) {
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
bool CompiledSchema::apply(const std::string& keyword, const json& value, Node& node) {
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

bool CompiledSchema::apply_type(const json& value, Node& node) {
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

const CompiledSchema& compiled_results_schema() {
  static const json document = json::parse(results_schema_text());
  static const CompiledSchema compiled(document);
  return compiled;
}

}  // namespace morvi::reporter::schema::quick
