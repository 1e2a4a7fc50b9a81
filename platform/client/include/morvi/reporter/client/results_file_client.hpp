#pragma once
// A reporter client over a results JSON document, read and parsed once.
#include <string>
#include <string_view>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "morvi/reporter/client.hpp"

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
  // child objects under "tasks" and "sections" replaced by their "id" values (none for a
  // child without one).
  Value get_trialkit() override;
  Value get_section(const List& id_list) override;

 private:
  using Json = nlohmann::ordered_json;
  // The child of `node` whose id reads as `id`; the first one when siblings share an id.
  const Json* child(const Json& node, const Value& id);

  Json document_;
  // Children by the printable form of their id, built for a node when it is first searched.
  std::unordered_map<const Json*, std::unordered_map<std::string, const Json*>> children_;
};

}  // namespace morvi::reporter::client
