// The flat record of one node, and the field values that the writers leave out.
#include <utility>

#include "node_layout.hpp"

namespace morvi::reporter::trialkit {

const List& VALUE_IGNORE() {
  static const List values{Value(), Value(List{}), Value(Map{})};
  return values;
}

Map ReportObjectBase::to_dict() const {
  Map record;
  record.reserve(arg_order().size() + 2);
  for (std::string_view name : arg_order()) {
    const FieldRef value = field(name);
    if (!value) continue;
    // Children by id, in child order; the node's own child list stays as it is.
    if (name == "tasks" || name == "sections") {
      List ids;
      ids.reserve(value->as_list().size());
      for (const Value& child : value->as_list()) ids.push_back(node_of(child).id());
      record.set(name, Value(std::move(ids)));
    } else {
      record.set(name, *value);
    }
  }
  record.set("seq_num", seq_num());
  if (const FieldRef logfile = field("logfile")) record.set("logfile", *logfile);
  return record;
}

}  // namespace morvi::reporter::trialkit
