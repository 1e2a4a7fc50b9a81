#include "json_nodes.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/results.hpp"

namespace morvi::service::merge {
namespace {

using reporter::trialkit::NodeKind;
using reporter::trialkit::Plugin;
using reporter::trialkit::ReportObjectBase;
using reporter::trialkit::Section;
using reporter::trialkit::Task;
using reporter::trialkit::TrialKit;

bool is_result_field(std::string_view field) {
  return field == "result" || field == "health_result";
}

bool is_tally_field(std::string_view field) {
  return field == "summary" || field == "pluginsummary" || field == "health_summary";
}

// {"value": name, "reason": ..., "data": ...} back into a result value.
Value result_value(const Json& json) {
  const auto value = json.find("value");
  if (value == json.end() || !value->is_string()) return plain_value(json);
  results::TestResult result = results::TestResult::from_str(value->get_ref<const std::string&>());
  if (const auto reason = json.find("reason"); reason != json.end() && reason->is_string())
    result.set_reason(reason->get<std::string>());
  if (const auto data = json.find("data"); data != json.end() && data->is_object())
    result.set_data(plain_value(*data).as_map());
  return Value(std::move(result));
}

// The counts of a tally; "total" and "success_rate" are derived from them again.
Value tally_value(const Json& json) {
  results::ResultCounter tally;
  for (const auto& [key, count] : json.items()) {
    if (key == "total" || key == "success_rate") continue;
    tally.set(key, plain_value(count));
  }
  return Value(std::move(tally));
}

std::string node_name(const ReportObjectBase& node) { return node.fullid().to_repr(); }

}  // namespace

Value plain_value(const Json& json) {
  switch (json.type()) {
    case Json::value_t::null:
      return {};
    case Json::value_t::boolean:
      return Value(json.get<bool>());
    case Json::value_t::number_integer:
      return Value(static_cast<long long>(json.get<std::int64_t>()));
    case Json::value_t::number_unsigned: {
      const auto n = json.get<std::uint64_t>();
      if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return Value(static_cast<double>(n));
      return Value(static_cast<long long>(n));
    }
    case Json::value_t::number_float:
      return Value(json.get<double>());
    case Json::value_t::string:
      return Value(json.get<std::string>());
    case Json::value_t::array: {
      List list;
      list.reserve(json.size());
      for (const Json& item : json) list.push_back(plain_value(item));
      return Value(std::move(list));
    }
    case Json::value_t::object: {
      Map map;
      map.reserve(json.size());
      for (const auto& [key, item] : json.items()) map.set(key, plain_value(item));
      return Value(std::move(map));
    }
    default:
      throw TypeError("a JSON value of kind " + std::string(json.type_name()) +
                      " has no value form");
  }
}

Value field_value(std::string_view field, const Json& json) {
  if (json.is_string() && (field == "starttime" || field == "stoptime")) {
    if (auto time = parse_datetime(json.get_ref<const std::string&>())) return Value(*time);
  }
  if (json.is_object()) {
    if (is_result_field(field)) return result_value(json);
    if (is_tally_field(field)) return tally_value(json);
  }
  return plain_value(json);
}

void set_fields(ReportObjectBase& node, const Json& json, std::string_view origin,
                std::span<const std::string_view> skip) {
  for (const auto& [key, member] : json.items()) {
    if (key == "id" || key == "type" || key == "fullid" || key == "idlist" || key == "tasks" ||
        key == "sections" || std::find(skip.begin(), skip.end(), key) != skip.end()) {
      continue;
    }
    if (key == "result" && node.node_kind() == NodeKind::TrialKit) continue;
    try {
      node.set_field(key, field_value(key, member));
    } catch (const std::exception& e) {
      throw ParseError(std::string(origin) + ": node " + node_name(node) + ": field '" + key +
                       "': " + e.what());
    }
  }
}

ReportObjectBase& build_child(ReportObjectBase& parent, const Json& json,
                              std::string_view origin) {
  std::int64_t seq = 0;
  // Adds one node of the kind its fields tell, with its fields.
  const auto add = [&](ReportObjectBase& to, const Json& node) -> ReportObjectBase& {
    if (!node.is_object()) {
      throw ParseError(std::string(origin) + ": a child of node " + node_name(to) +
                       " is not an object");
    }
    const auto id_member = node.find("id");
    const Value id = id_member == node.end() ? Value() : plain_value(*id_member);
    const auto type_member = node.find("type");
    const Value type = type_member == node.end() ? Value() : plain_value(*type_member);
    ReportObjectBase* made = nullptr;
    switch (to.node_kind()) {
      case NodeKind::TrialKit: {
        auto& kit = static_cast<TrialKit&>(to);
        if (node.contains("pluginsummary"))
          made = kit.add_task(id, Value(++seq), type).get();
        else
          made = kit.add_plugin(id, Value(++seq), type).get();
        break;
      }
      case NodeKind::Task: {
        auto& task = static_cast<Task&>(to);
        if (node.contains("health_summary"))
          made = task.add_section(id, Value(++seq), type).get();
        else
          made = task.add_plugin(id, Value(++seq), type).get();
        break;
      }
      case NodeKind::Plugin:
        made = static_cast<Plugin&>(to).add_section(id, Value(++seq), type).get();
        break;
      case NodeKind::Section:
        made = static_cast<Section&>(to).add_section(id, Value(++seq), type).get();
        break;
      case NodeKind::Base:
        throw ParseError(std::string(origin) + ": node " + node_name(to) +
                         " cannot hold children");
    }
    set_fields(*made, node, origin);
    // A task written without a result had none; it must not derive one from its children.
    if (made->node_kind() == NodeKind::Task && !node.contains("result"))
      made->set_field("result", Value());
    return *made;
  };

  ReportObjectBase& top = add(parent, json);
  std::vector<std::pair<ReportObjectBase*, const Json*>> pending{{&top, &json}};
  while (!pending.empty()) {
    const auto [node, object] = pending.back();
    pending.pop_back();
    const auto children = object->find("sections");
    if (children == object->end() || !children->is_array()) continue;
    for (const Json& child : *children) pending.emplace_back(&add(*node, child), &child);
  }
  return top;
}

}  // namespace morvi::service::merge
