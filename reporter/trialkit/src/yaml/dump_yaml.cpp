// ReportObjectBase::dump_yaml: the results document of a node's subtree as YAML text.
#include <memory>
#include <string>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"

namespace morvi::reporter::trialkit {

std::string ReportObjectBase::dump_yaml() const {
  // The header holds the node for the length of this call only, so it does not own it.
  const ReportHeader header(
      Value::node(std::shared_ptr<Object>(std::shared_ptr<Object>(), const_cast<ReportObjectBase*>(this))));
  return YAMLDumper::dump(Value(header.as_dict()));
}

}  // namespace morvi::reporter::trialkit
