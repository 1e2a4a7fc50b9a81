#pragma once
// What an element handle writes into. Element checks the nesting limit and makes every text
// one XML can carry; a builder only records what it is given, for the element it names.
#include <cstdint>
#include <string_view>

#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {

// The first line of the compact form.
inline constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class Builder {
 public:
  virtual ~Builder() = default;

  // `node` and `depth` name the element; the result names the new child.
  virtual std::uintptr_t append_child(std::uintptr_t node, int depth, const char* tag) = 0;
  // `text` is not empty.
  virtual void add_text(std::uintptr_t node, int depth, std::string_view text) = 0;
  virtual void set_attribute(std::uintptr_t node, int depth, const char* name,
                             std::string_view value) = 0;
  virtual std::string_view tag(std::uintptr_t node, int depth) const = 0;
};

}  // namespace morvi::zorbel::xml
