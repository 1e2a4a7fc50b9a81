#pragma once
// The arguments each event kind takes, which of them it needs, and the kind of value some must
// be: one table for the JSON path, which names what is wrong, and the fast reader, which
// gives up on anything else.
#include <span>
#include <string_view>

#include "morvi/service/protocol/event.hpp"

namespace morvi::service::protocol {

enum class Need { any, map, boolean };
struct Arg {
  std::string_view key;
  Need need;
  bool required;
};

inline constexpr Arg kNodeArgs[] = {
    {"id", Need::any, true}, {"seq_num", Need::any, true}, {"type", Need::any, false}};
inline constexpr Arg kLifecycleArgs[] = {
    {"options", Need::map, true}, {"time", Need::any, false}, {"file_sizes", Need::map, false}};
inline constexpr Arg kUpdateArgs[] = {{"data", Need::map, true}};
inline constexpr Arg kUpdateExtraArgs[] = {{"data", Need::map, true},
                                           {"list_extend", Need::boolean, true}};
inline constexpr Arg kDetailArgs[] = {{"detail", Need::any, true}};
inline constexpr Arg kResultArgs[] = {{"result", Need::any, true}};

constexpr std::span<const Arg> expected_args(EventKind kind) {
  switch (kind) {
    case EventKind::create_trialkit:
    case EventKind::add_task:
    case EventKind::add_plugin:
    case EventKind::add_section: return kNodeArgs;
    case EventKind::start:
    case EventKind::stop: return kLifecycleArgs;
    case EventKind::update: return kUpdateArgs;
    case EventKind::update_extra: return kUpdateExtraArgs;
    case EventKind::add_detail: return kDetailArgs;
    case EventKind::set_result: return kResultArgs;
    case EventKind::roll_up: return {};
  }
  return {};
}

}  // namespace morvi::service::protocol
