// The lifecycle every node shares: start, update, stop, extra data and details.
#include <array>
#include <iterator>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "morvi/utils/dicts.hpp"
#include "morvi/utils/utils.hpp"
#include "node_layout.hpp"

namespace morvi::reporter::trialkit {

using F = FieldId;

void ReportObjectBase::start(Options options) { base_start(options); }

void ReportObjectBase::stop(Options options) { base_stop(options); }

void ReportObjectBase::base_start(Options& options) {
  store(F::starttime, Value(utils::get_time()));
  update(std::move(options));
}

void ReportObjectBase::base_stop(Options& options) {
  if (!starttime().is_none()) {
    // The runtime from the time just taken, not from the field read back.
    const DateTime now = utils::get_time();
    store(F::stoptime, Value(now));
    store(F::runtime, Value(now.seconds_since(starttime().as_datetime())));
  }
  Value flag = options.take("result_rollup").value_or(Value(true));
  const bool roll = flag.truthy();
  store(F::result_rollup, std::move(flag));
  // The update comes first, so that a result given to stop is in place for the roll-up.
  update(std::move(options));
  if (roll) roll_up();
}

// A copy first: `data` may live inside a field that this update replaces.
void ReportObjectBase::update(const Map& data) { update(Map(data)); }

void ReportObjectBase::update(Map&& data) {
  const NodeLayout& l = layout();
  // Each key's field, looked up once for the three passes below.
  constexpr std::size_t kFew = 8;
  std::array<FieldId, kFew> few;
  std::vector<FieldId> many;
  if (data.size() > kFew) many.resize(data.size());
  FieldId* const fields_of = data.size() > kFew ? many.data() : few.data();
  // Every key is checked before any is applied, so that a refusal leaves the node unchanged.
  // The values only add references from this node, which cannot open a way back to it, so
  // checking each against the node as it is now suffices.
  std::size_t at = 0;
  for (const auto& [key, value] : data) {
    const FieldId field = fields_of[at++] = field_id(key);
    if (l.children_slot >= 0 && l.lists(field) && l.slot(field) == l.children_slot)
      check_joining(key, value.is_list() ? std::span(value.as_list()) : std::span(&value, 1),
                    false);
    else if (may_hold_nodes(value))
      check_no_cycle(key, value);
  }
  std::size_t leftovers = 0;
  at = 0;
  for (auto& entry : data) {
    const FieldId field = fields_of[at++];
    if (l.lists(field))
      update_field(field, std::move(entry.second));
    else
      ++leftovers;
  }
  if (leftovers == 0) return;
  // A node's first `extra` keys, when the update holds nothing else: the map itself becomes
  // `extra`, rather than a new one being filled from it key by key.
  const int extra_slot = l.slot(F::extra);
  if (leftovers == data.size() && extra_slot >= 0 && fields().shared(extra_slot)) {
    fields().set(l, extra_slot, Value(std::move(data)));
    return;
  }
  // The keys no field takes go to `extra` once the fields are done (an `extra` key may just
  // have replaced it), merged as update_extra merges them. `data` is ours, so a key that
  // `extra` does not hold yet is moved in rather than copied.
  Map& extra = slot(F::extra).as_map();
  // Room for the keys at once when they start `extra`; a growing one keeps the vector's own
  // growth, so that many small updates stay linear.
  if (extra.empty()) extra.reserve(leftovers);
  at = 0;
  for (auto& [key, value] : data) {
    if (l.lists(fields_of[at++])) continue;
    // One lookup: a key `extra` lacks is appended as none and takes the value.
    const std::size_t before = extra.size();
    Value& place = extra[key];
    if (extra.size() != before) {
      place = std::move(value);
    } else {
      Map one;
      one.set(key, std::move(value));
      utils::recursive_update(extra, one, true);
    }
  }
}

void ReportObjectBase::update(const Value& data) {
  if (!data.is_map())
    throw TypeError(std::string("update takes a map, got ") + data.kind_name());
  update(data.as_map());
}

void ReportObjectBase::update_field(FieldId field, Value&& value) {
  // idlist is a fresh list on every read: extending it leaves nothing behind.
  if (field == F::idlist) return;
  const int slot = layout().slot(field);
  if (slot >= 0) {
    const Value* current = fields().find_slot(layout(), slot);
    if (current != nullptr && current->is_list()) {
      append_to_list(slot, std::move(value));
      return;
    }
  }
  assign(field, std::move(value));
}

void ReportObjectBase::append_to_list(int slot, Value&& value) {
  const bool more = value.is_list();
  List& list = fields().ref(layout(), slot).as_list();
  const std::size_t before = list.size();
  if (more) {
    List& items = value.as_list();
    list.insert(list.end(), std::make_move_iterator(items.begin()),
                std::make_move_iterator(items.end()));
  } else {
    list.push_back(std::move(value));
  }
  if (slot == layout().children_slot)
    for (std::size_t i = before; i < list.size(); ++i) join(list[i]);
}

void ReportObjectBase::update_extra(const Map& data, bool list_extend) {
  // Merging nothing changes nothing; skipping it keeps an untouched `extra` shared.
  if (data.empty()) return;
  // A copy first: `data` may be this node's own `extra` or lie inside it.
  const Value source{Map(data)};
  check_no_cycle("extra", source);
  utils::recursive_update(slot(F::extra).as_map(), source.as_map(), list_extend);
}

void ReportObjectBase::add_detail(Value detail) {
  if (may_hold_nodes(detail)) check_no_cycle("details", detail);
  const int at = layout().slot(F::details);
  if (fields().shared(at)) {
    // The first detail: the list is made with room for it, rather than grown from empty.
    List details;
    details.reserve(1);
    details.push_back(std::move(detail));
    fields().set(layout(), at, Value(std::move(details)));
    return;
  }
  slot(F::details).as_list().push_back(std::move(detail));
}

}  // namespace morvi::reporter::trialkit
