#include "morvi/json_stream/field_builder.hpp"

#include <utility>

namespace morvi::json_stream {

void FieldBuilder::begin(json& slot, json container) {
  slot = std::move(container);
  open_.push_back(&slot);
}

void FieldBuilder::nest(json container) { open_.push_back(&place(std::move(container))); }

void FieldBuilder::add(json value) { place(std::move(value)); }

// Only the innermost container grows, so the pointers to the ones around it stay valid.
FieldBuilder::json& FieldBuilder::place(json value) {
  json& container = *open_.back();
  if (container.is_array()) {
    container.push_back(std::move(value));
    return container.back();
  }
  return container[key_] = std::move(value);
}

}  // namespace morvi::json_stream
