#include "problem_walk.hpp"

#include <algorithm>
#include <cmath>
#include <regex>
#include <variant>
#include <vector>

namespace morvi::reporter::schema::quick {

namespace {

using json = nlohmann::json;

// Scalar values quoted in a problem line are cut to this many characters.
constexpr std::size_t kMaxQuotedValue = 60;

// JSON Schema counts a whole number written as a real (2.0, 1e2) as an integer.
bool is_integer(const json& value) {
  if (value.is_number_integer()) return true;
  if (!value.is_number_float()) return false;
  const double x = value.get<double>();
  return std::isfinite(x) && std::trunc(x) == x;
}

bool has_type(const Node& node, const json& value) {
  if (node.types == 0) return true;
  switch (value.type()) {
    case json::value_t::null: return (node.types & kNull) != 0;
    case json::value_t::boolean: return (node.types & kBoolean) != 0;
    case json::value_t::object: return (node.types & kObject) != 0;
    case json::value_t::array: return (node.types & kArray) != 0;
    case json::value_t::string: return (node.types & kString) != 0;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
      return (node.types & kNumber) != 0 || ((node.types & kInteger) != 0 && is_integer(value));
    default: return false;
  }
}

// Length in code points: every byte but UTF-8 continuation bytes starts one.
std::size_t code_points(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Checks each value against the constraints of its place in the validator's order: the
// allowed values, the items, the sizes, the pattern, the members, the required names, the
// type. The place of the value being checked is kept as a path of names and indexes, turned
// into a pointer only for a problem that is shown.
class Walk {
 public:
  Walk(const CompiledSchema& schema, std::size_t max_problems, Findings& findings)
      : schema_(schema), max_problems_(max_problems), findings_(findings) {}

  bool known() const noexcept { return known_; }

  // Whether `value` meets subschema `index`; every way it does not is a problem.
  bool check(const json& value, std::size_t index) {
    const Node* node = schema_.resolved(index);
    if (node == nullptr) {
      known_ = false;
      return false;
    }
    bool valid = true;
    if (node->allowed_strings && !(value.is_string() && is_allowed(*node, value.get_ref<const std::string&>()))) {
      problem(value, node->allowed_by_const ? "Failed to match expected value set by 'const' constraint."
                                            : "Failed to match against any enum values.");
      valid = false;
    }
    if (value.is_array()) {
      valid &= check_array(*node, value);
    } else if (value.is_string()) {
      valid &= check_string(*node, value);
    } else if (value.is_object()) {
      valid &= check_object(*node, value);
    }
    if (!known_) return false;
    if (!has_type(*node, value)) {
      problem(value, "Value type not permitted by 'type' constraint.");
      valid = false;
    }
    return valid;
  }

 private:
  using Segment = std::variant<const std::string*, std::size_t>;

  static bool is_allowed(const Node& node, const std::string& text) {
    return std::find(node.allowed_strings->begin(), node.allowed_strings->end(), text) !=
           node.allowed_strings->end();
  }

  bool check_array(const Node& node, const json& value) {
    bool valid = true;
    if (node.items) {
      for (std::size_t i = 0; i < value.size() && known_; ++i) {
        path_.emplace_back(i);
        valid &= check(value[i], *node.items);
        path_.pop_back();
      }
    }
    if (value.size() < node.min_items) {
      problem(value, "Array should contain no fewer than " + std::to_string(node.min_items) + " elements.");
      valid = false;
    }
    return valid;
  }

  bool check_string(const Node& node, const json& value) {
    const std::string& text = value.get_ref<const std::string&>();
    bool valid = true;
    if (code_points(text) < node.min_length) {
      problem(value, "String should be no fewer than " + std::to_string(node.min_length) + " characters in length.");
      valid = false;
    }
    const bool matches = node.time_pattern ? matches_time_pattern(text)
                         : node.pattern    ? std::regex_search(text, *node.pattern)
                                           : true;
    if (!matches) {
      problem(value, "Failed to match regex specified by 'pattern' constraint.");
      valid = false;
    }
    return valid;
  }

  bool check_object(const Node& node, const json& value) {
    bool valid = true;
    if (value.size() < node.min_properties) {
      problem(value, "Object should have no fewer than " + std::to_string(node.min_properties) + " properties.");
      valid = false;
    }
    // Members named in "properties" first, then the others against "additionalProperties";
    // the document's members come in name order, as the validator takes them.
    const auto schema_of = [&](const std::string& name) -> const std::optional<std::size_t>* {
      const Member* member = node.member_table.find(name);
      return member != nullptr && member->schema ? &member->schema : nullptr;
    };
    for (auto it = value.begin(); it != value.end() && known_; ++it) {
      if (const auto* schema = schema_of(it.key())) valid &= check_member(it.key(), it.value(), **schema);
    }
    if (!node.additional_allowed) {
      for (auto it = value.begin(); it != value.end(); ++it) {
        if (schema_of(it.key()) != nullptr) continue;
        problem(value, "Object contains a property that could not be validated using 'properties' or "
                       "'additionalProperties' constraints: '" + it.key() + "'.");
        valid = false;
        break;
      }
    } else if (node.additional) {
      for (auto it = value.begin(); it != value.end() && known_; ++it) {
        if (schema_of(it.key()) != nullptr || check_member(it.key(), it.value(), *node.additional)) continue;
        problem(value, "Failed to validate against additional properties schema");
        valid = false;
      }
    }
    for (const std::string& name : node.required) {
      if (!value.contains(name)) {
        problem(value, "Missing required property '" + name + "'.");
        valid = false;
      }
    }
    return valid;
  }

  bool check_member(const std::string& name, const json& member, std::size_t index) {
    path_.emplace_back(&name);
    const bool valid = check(member, index);
    path_.pop_back();
    return valid;
  }

  // Records a problem of `value`, the value at the current place.
  void problem(const json& value, std::string description) {
    if (findings_.problems.size() == max_problems_) {
      ++findings_.not_shown;
      return;
    }
    std::string pointer;
    for (const Segment& segment : path_) {
      if (const auto* name = std::get_if<const std::string*>(&segment)) {
        append_pointer_segment(pointer, **name);
      } else {
        append_pointer_segment(pointer, std::to_string(std::get<std::size_t>(segment)));
      }
    }
    findings_.problems.push_back({std::move(pointer), describe(value, std::move(description))});
  }

  const CompiledSchema& schema_;
  const std::size_t max_problems_;
  Findings& findings_;
  std::vector<Segment> path_;
  bool known_ = true;
};

}  // namespace

void append_pointer_segment(std::string& pointer, std::string_view segment) {
  pointer += '/';
  for (const char c : segment) {
    if (c == '~') {
      pointer += "~0";
    } else if (c == '/') {
      pointer += "~1";
    } else {
      pointer += c;
    }
  }
}

std::string describe(const json& value, std::string description) {
  if (value.is_structured()) return description;
  std::string quoted = value.dump(-1, ' ', false, json::error_handler_t::replace);
  if (quoted.size() > kMaxQuotedValue) quoted = quoted.substr(0, kMaxQuotedValue) + "...";
  return description + " (value: " + quoted + ")";
}

bool walk_problems(const CompiledSchema& schema, const json& document, std::size_t max_problems,
                   Findings& findings) {
  Walk walk(schema, max_problems, findings);
  walk.check(document, 0);
  return walk.known();
}

}  // namespace morvi::reporter::schema::quick
