#pragma once
// Where a node's full id starts: the node and its ancestors up to the first one directly below
// the trialkit (or without a parent) make its fullid and idlist. Shared by the node, which
// builds the two fields, and the JSON writer, which writes them from the ancestors in place.
#include "morvi/reporter/trialkit.hpp"

namespace morvi::reporter::trialkit {

inline bool starts_fullid(const ReportObjectBase& node) noexcept {
  const ReportObjectBase* parent = node.parent();
  return parent == nullptr || parent->node_kind() == NodeKind::TrialKit;
}

}  // namespace morvi::reporter::trialkit
