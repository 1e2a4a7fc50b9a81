#pragma once
// A reporter client over a results JSON document, read in place rather than parsed into a
// tree: the document is checked once, whole, when the client is made, and each record is then
// read from the node's own text when it is asked for. Memory stays far below the document's
// size, whatever the report holds.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "morvi/reporter/client.hpp"
#include "morvi/reporter/client/child_identifiers.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::client {

class JsonReader;
class LongValues;
class ResultsText;

class ResultsFileClient : public ReporterClient {
 public:
  // Reads the results JSON file at `path` ("-" is standard input): std::system_error when it
  // cannot be read, ParseError when it is not JSON or nests too deep, worded as the results
  // reader words it. A regular file is mapped rather than copied, and held open, so removing
  // or replacing it afterwards changes nothing; truncating it in place while it is read is not
  // supported.
  explicit ResultsFileClient(const std::string& path);
  // Over a document in memory; `origin` names it in errors.
  static std::unique_ptr<ResultsFileClient> over_text(std::string text, std::string origin);
  ResultsFileClient(const ResultsFileClient&) = delete;
  ResultsFileClient& operator=(const ResultsFileClient&) = delete;
  ~ResultsFileClient() override;

  // The record of the document's "report" node: its members in document order, with the
  // child objects under "tasks" and "sections" replaced by their identifiers (see
  // ChildIdentifiers; a child without an "id" member has the id none).
  Value get_trialkit() override;
  Value get_section(const List& id_list) override;

 private:
  // A node's children, "tasks" then "sections": where each starts in the text, and how
  // records name them.
  struct Children {
    std::vector<std::size_t> offsets;
    ChildIdentifiers names{std::vector<Value>{}};
  };
  struct Node {
    std::size_t offset;
    // The identifier the walk took from the node above to this one; none for the report.
    Value name;
    Children children;
  };
  ResultsFileClient(std::unique_ptr<ResultsText> text, std::string origin);
  // Reads the record of the node starting at `offset`, `level` steps below the report, and
  // its children.
  Value read_node(std::size_t offset, std::size_t level, Children& children);
  static Value read_node(JsonReader& reader, Children& children);
  // The children of the node at `offset`, `level` steps below the report, reached by `name`.
  const Children& children_at(std::size_t offset, std::size_t level, const Value& name);

  std::unique_ptr<ResultsText> text_;
  // Where the document's long arrays and objects end, learnt when it was checked: a record is
  // read without reading the subtrees of the node's children again.
  std::unique_ptr<LongValues> long_values_;
  std::string origin_;
  bool has_report_ = false;
  Value report_record_;
  // The nodes along the path last followed, from the report down, with their children: a walk
  // in document order reads each node's text once, and nothing else is kept.
  std::vector<Node> path_;
  // The text before this offset has been given back since the walk went past it.
  std::size_t released_ = 0;
};

}  // namespace morvi::reporter::client
#pragma GCC visibility pop
