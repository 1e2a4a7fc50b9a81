#pragma once
// The results schema reduced to the keywords the quick check knows, as a table of nodes the
// text scanner and the problem walk follow. Internal to the schema library.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace morvi::reporter::schema::quick {

enum TypeBit : unsigned {
  kNull = 1U << 0,
  kBoolean = 1U << 1,
  kObject = 1U << 2,
  kArray = 1U << 3,
  kNumber = 1U << 4,
  kString = 1U << 5,
  kInteger = 1U << 6,
};

struct Member {
  std::optional<std::size_t> schema;  // from "properties"; none for a name only required
  std::uint64_t required_bit = 0;
};

// The members of one object schema by name: open addressing over a few bytes of the name,
// cheaper than hashing whole names, which the scanner looks up millions of times.
class MemberTable {
 public:
  void build(const std::unordered_map<std::string, Member>& members);
  const Member* find(std::string_view name) const noexcept {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = slot_of(name);; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.entry == kEmpty) return nullptr;
      if (entries_[slot.entry].first == name) return &entries_[slot.entry].second;
    }
  }

 private:
  static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
  struct Slot {
    std::uint32_t entry = kEmpty;
  };
  std::size_t slot_of(std::string_view name) const noexcept {
    std::size_t h = name.size();
    if (!name.empty()) {
      h = h * 131 + static_cast<unsigned char>(name.front());
      h = h * 131 + static_cast<unsigned char>(name[name.size() / 2]);
      h = h * 131 + static_cast<unsigned char>(name.back());
    }
    return (h ^ (h >> 7)) & mask_;
  }
  std::vector<std::pair<std::string, Member>> entries_;
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

// One subschema. `unknown` marks a subschema using anything else: it is never shown valid.
struct Node {
  bool unknown = false;
  std::optional<std::size_t> ref;
  unsigned types = 0;  // 0: any type
  std::optional<std::vector<std::string>> allowed_strings;  // from "enum" and "const"
  bool allowed_by_const = false;  // the two are worded apart
  // Objects.
  std::unordered_map<std::string, Member> members;
  MemberTable member_table;  // `members`, for lookups while scanning
  std::uint64_t required_mask = 0;
  std::vector<std::string> required;  // sorted, the order problems name them in
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
  // Node 0 is the root schema; `any()` is a node every value meets.
  explicit CompiledSchema(const nlohmann::json& schema);
  // resolved() points into the node table.
  CompiledSchema(const CompiledSchema&) = delete;
  CompiledSchema& operator=(const CompiledSchema&) = delete;

  const Node& node(std::size_t index) const noexcept { return nodes_[index]; }
  // The node holding the constraints of node `index`, its "$ref" links followed; none for a
  // node never shown valid (or a loop of links).
  const Node* resolved(std::size_t index) const noexcept { return resolved_[index]; }
  std::size_t size() const noexcept { return nodes_.size(); }
  std::size_t any() const noexcept { return any_; }

 private:
  std::size_t compile(const nlohmann::json& schema);
  std::size_t compile_definition(const std::string& name);
  Node build(const nlohmann::json& schema);
  bool apply(const std::string& keyword, const nlohmann::json& value, Node& node);
  static bool apply_type(const nlohmann::json& value, Node& node);

  const nlohmann::json& root_document_;
  std::vector<Node> nodes_;
  std::vector<const Node*> resolved_;
  std::unordered_map<std::string, std::size_t> definitions_;
  std::size_t any_ = 0;
};

// Whether `text` matches the timestamp pattern of the results schema, checked by hand.
bool matches_time_pattern(std::string_view text) noexcept;

// The results schema, compiled once.
const CompiledSchema& compiled_results_schema();

}  // namespace morvi::reporter::schema::quick
