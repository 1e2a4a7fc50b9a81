#include "json_value.hpp"

#include <cstdint>
#include <limits>
#include <vector>

namespace morvi::reporter::client {

namespace {

using Json = nlohmann::ordered_json;

// A scalar as a Value; containers become empty ones of the right kind, filled by the caller.
Value shallow(const Json& json) {
  switch (json.type()) {
    case Json::value_t::boolean:
      return Value(json.get<bool>());
    case Json::value_t::number_integer:
      return Value(json.get<std::int64_t>());
    case Json::value_t::number_unsigned: {
      const auto n = json.get<std::uint64_t>();
      if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Value(static_cast<std::int64_t>(n));
      }
      return Value(static_cast<double>(n));
    }
    case Json::value_t::number_float:
      return Value(json.get<double>());
    case Json::value_t::string:
      return Value(json.get_ref<const std::string&>());
    case Json::value_t::array: {
      List items(json.size());
      return Value(std::move(items));
    }
    case Json::value_t::object: {
      Map members;
      members.reserve(json.size());
      return Value(std::move(members));
    }
    default:
      return Value();
  }
}

}  // namespace

Value to_value(const Json& json) {
  // A container being filled: the next member to copy. Lists are sized up front and maps only
  // grow by their last entry while that entry is filled, so `target` stays valid.
  struct Frame {
    const Json* source;
    Json::const_iterator next;
    Value* target;
    std::size_t index;
  };
  Value top = shallow(json);
  if (!json.is_structured()) return top;
  std::vector<Frame> stack{{&json, json.cbegin(), &top, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.source->cend()) {
      stack.pop_back();
      continue;
    }
    const Json& member = *frame.next;
    Value* slot = frame.source->is_object()
                      ? &(frame.target->as_map()[frame.next.key()] = shallow(member))
                      : &(frame.target->as_list()[frame.index] = shallow(member));
    ++frame.next;
    ++frame.index;
    if (member.is_structured() && !member.empty()) {
      stack.push_back({&member, member.cbegin(), slot, 0});
    }
  }
  return top;
}

}  // namespace morvi::reporter::client
