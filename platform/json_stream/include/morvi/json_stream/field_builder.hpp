#pragma once
// One structured JSON value built whole from nlohmann's SAX events. Streaming readers keep a
// node's own fields (small objects and lists) this way while its child lists pass by unheld.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#pragma GCC visibility push(default)
namespace morvi::json_stream {

class FieldBuilder {
 public:
  using json = nlohmann::json;

  // From begin() until the value's outermost container ends: every event belongs to it.
  bool building() const noexcept { return !open_.empty(); }

  // Starts the value `container` (an empty object or array) in `slot`, which must outlive it.
  void begin(json& slot, json container);
  // An object or array that starts inside the value being built.
  void nest(json container);
  // The innermost open object or array ends.
  void end() noexcept { open_.pop_back(); }
  // The key of the next member of the innermost object.
  void key(const std::string& name) { key_ = name; }
  // A scalar inside the value being built.
  void add(json value);

 private:
  json& place(json value);

  std::vector<json*> open_;  // the open containers, outermost first
  std::string key_;
};

}  // namespace morvi::json_stream
#pragma GCC visibility pop
