#include "compiled_schema.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::schema::quick {

namespace {

using json = nlohmann::json;

// The timestamp pattern of the results schema. Strings matching it are checked by hand, as
// std::regex costs more than all the rest of the check on a large file.
constexpr std::string_view kTimePattern =
    R"(^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{6})?([+-][0-9]{2}:[0-9]{2})?$)";

// One 8-character piece of the timestamp's shape, 'd' standing for any digit, '?' for any
// character (checked apart) and every other character for itself: the bytes it fixes and where
// its digits go, laid out as the piece reads from memory.
struct Shape {
  std::uint64_t fixed_mask = 0, fixed = 0, digits = 0;
};

constexpr Shape shape_of(const char (&piece)[9]) {
  Shape shape;
  for (int i = 0; i < 8; ++i) {
    const int shift = 8 * (std::endian::native == std::endian::little ? i : 7 - i);
    const char c = piece[i];
    if (c == 'd') {
      shape.digits |= std::uint64_t{0xFF} << shift;
    } else if (c != '?') {
      shape.fixed_mask |= std::uint64_t{0xFF} << shift;
      shape.fixed |= std::uint64_t{static_cast<unsigned char>(c)} << shift;
    }
  }
  return shape;
}

// Whether the eight characters at `at` have `shape`, all at once: the fixed bytes equal, and
// every digit place holding 0x30 to 0x39 (high half 3, low half below 10, which adding 6
// leaves without a carry into bit 4).
bool has_shape(const char* at, const Shape& shape) noexcept {
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0, kLow = 0x0F0F0F0F0F0F0F0F;
  constexpr std::uint64_t kThrees = 0x3030303030303030, kSixes = 0x0606060606060606, kBit4 = 0x1010101010101010;
  std::uint64_t w;
  std::memcpy(&w, at, sizeof w);
  return ((w & shape.fixed_mask) ^ shape.fixed) == 0 && ((w & kHigh & shape.digits) ^ (kThrees & shape.digits)) == 0 &&
         (((w & kLow) + kSixes) & kBit4 & shape.digits) == 0;
}

constexpr Shape kDate = shape_of("dddd-dd-");
constexpr Shape kDayHour = shape_of("dd dd:dd");
constexpr Shape kSeconds = shape_of("dd:dd:dd");       // characters 11 to 18
constexpr Shape kFraction = shape_of("d.dddddd");      // from the last digit of the seconds
constexpr Shape kOffset = shape_of("dd?dd:dd");        // from the two digits before the sign

}  // namespace

// Whether kTimePattern finds a match in `text`. Anchored at both ends, it matches the whole
// text: the date and time, then an optional ".dddddd", then an optional "+dd:dd" or "-dd:dd".
// The two optional parts start with different characters, so no choice ever needs undoing.
bool matches_time_pattern(std::string_view text) noexcept {
  const std::size_t n = text.size();
  if (n < 19) return false;
  const char* t = text.data();
  if (!has_shape(t, kDate) || !has_shape(t + 8, kDayHour) || !has_shape(t + 11, kSeconds)) return false;
  std::size_t at = 19;
  if (at < n && t[at] == '.') {
    if (n < 26 || !has_shape(t + 18, kFraction)) return false;
    at = 26;
  }
  if (at == n) return true;
  return n - at == 6 && (t[at] == '+' || t[at] == '-') && has_shape(t + at - 2, kOffset);
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
  for (Node& node : nodes_) {
    node.member_table.build(node.members);
    std::sort(node.required.begin(), node.required.end());
  }
  for (const Node& start : nodes_) {
    const Node* node = &start;
    for (std::size_t hops = 0; node != nullptr && !node->unknown && node->ref; ++hops) {
      node = hops == nodes_.size() ? nullptr : &nodes_[*node->ref];
    }
    resolved_.push_back(node == nullptr || node->unknown ? nullptr : node);
  }
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
    node.allowed_by_const = keyword == "const";
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
      node.required.push_back(name.get<std::string>());
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
