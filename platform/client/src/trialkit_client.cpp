#include "morvi/reporter/client/trialkit_client.hpp"

namespace morvi::reporter::client {

using trialkit::node_of;
using trialkit::ReportObjectBase;

TrialKitClient::TrialKitClient(std::shared_ptr<ReportObjectBase> root) : root_(std::move(root)) {}

Value TrialKitClient::get_trialkit() { return Value(root_->to_dict()); }

Value TrialKitClient::get_section(const List& id_list) {
  const ReportObjectBase* node = root_.get();
  for (const Value& id : id_list) {
    const ReportObjectBase* found = nullptr;
    for (const Value& child : node->children()) {
      if (node_of(child).id() == id) {
        found = &node_of(child);
        break;
      }
    }
    if (!found) return Value(Map());
    node = found;
  }
  return Value(node->to_dict());
}

}  // namespace morvi::reporter::client
