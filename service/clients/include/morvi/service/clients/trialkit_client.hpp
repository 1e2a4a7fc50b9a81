#pragma once
// A reporter client over a report tree held in this process: a record is the node's to_dict.
#include <memory>

#include "morvi/reporter/client.hpp"
#include "morvi/reporter/trialkit.hpp"

#pragma GCC visibility push(default)
namespace morvi::service::clients {

class TrialKitClient : public reporter::client::ReporterClient {
 public:
  // `root` is the top node; usually the job's TrialKit.
  explicit TrialKitClient(std::shared_ptr<reporter::trialkit::ReportObjectBase> root);

  Value get_trialkit() override;
  // Follows the ids through each node's child list, taking the first child whose id equals
  // the path's.
  Value get_section(const List& id_list) override;

 private:
  std::shared_ptr<reporter::trialkit::ReportObjectBase> root_;
};

}  // namespace morvi::service::clients
#pragma GCC visibility pop
