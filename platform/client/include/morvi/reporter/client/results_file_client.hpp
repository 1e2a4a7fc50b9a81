#pragma once
// A reporter client over a results JSON document, read and parsed once.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "morvi/reporter/client.hpp"
#include "morvi/reporter/client/child_identifiers.hpp"

namespace morvi::reporter::client {

class ResultsFileClient : public ReporterClient {
 public:
  // Reads the results JSON file at `path`: std::system_error when it cannot be read,
  // ParseError when it is not JSON or nests too deep.
  explicit ResultsFileClient(const std::string& path);
  // Over a document already parsed.
  explicit ResultsFileClient(nlohmann::ordered_json document);
  // The child index points into the document.
  ResultsFileClient(const ResultsFileClient&) = delete;
  ResultsFileClient& operator=(const ResultsFileClient&) = delete;

  // The record of the document's "report" node: its members in document order, with the
  // child objects under "tasks" and "sections" replaced by their identifiers (see
  // ChildIdentifiers; a child without an "id" member has the id none).
  Value get_trialkit() override;
  Value get_section(const List& id_list) override;

 private:
  using Json = nlohmann::ordered_json;
  // A node's children, "tasks" then "sections", and how records name them.
  struct Children {
    explicit Children(const Json& node);
    static ChildIdentifiers collect(const Json& node, std::vector<const Json*>& nodes);
    std::vector<const Json*> nodes;
    ChildIdentifiers names;
  };
  const Children& children_of(const Json& node);
  Value record_of(const Json& node);
  // The child of `node` that `identifier` names, or null.
  const Json* child(const Json& node, const Value& identifier);

  Json document_;
  // Built for a node when it is first read.
  std::unordered_map<const Json*, Children> children_;
};

}  // namespace morvi::reporter::client
