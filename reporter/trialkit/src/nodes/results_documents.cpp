// ReportObjectBase::dump_json and dump_yaml, JSONDumper::write_results and
// YAMLDumper::write_results: the results document of a node's subtree, as JSON or YAML text,
// returned or written to a file.
#include <memory>
#include <string>

#include "../json/results_json_text.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"

namespace morvi::reporter::trialkit {
namespace {

// The header holds the node for the length of the caller's call only, so it does not own it.
Value document_of(const ReportObjectBase& node) {
  const ReportHeader header(
      Value::node(std::shared_ptr<Object>(std::shared_ptr<Object>(), const_cast<ReportObjectBase*>(&node))));
  return Value(header.as_dict());
}

}  // namespace

std::string ReportObjectBase::dump_json() const { return encode_results(document_of(*this)); }

void JSONDumper::write_results(const ReportObjectBase& node, const std::string& path) {
  encode_results_file(document_of(node), path);
}

std::string ReportObjectBase::dump_yaml() const { return YAMLDumper::dump(document_of(*this)); }

void YAMLDumper::write_results(const ReportObjectBase& node, const std::string& path) {
  YAMLDumper::dump_file(document_of(node), path);
}

}  // namespace morvi::reporter::trialkit
