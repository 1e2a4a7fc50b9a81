// The node-by-node reader against nlohmann's own parser: the nodes a reader is shown, and the
// fields known at each point, equal a walk over the document json::parse makes of the text.
#include <cerrno>
#include <cmath>
#include <limits>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/json_stream/results_reader.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace {

using json = nlohmann::json;
using ordered = nlohmann::ordered_json;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Logs what it is shown: "open D", "fields D {...}", "close D {...}".
class Recorder final : public morvi::json_stream::ResultsReader {
 public:
  explicit Recorder(std::string origin = "doc.json") : ResultsReader(std::move(origin)) {}
  std::vector<std::string> log;

  void read_text(std::string text) {
    std::unique_ptr<std::FILE, FileCloser> in(fmemopen(text.data(), text.size(), "rb"));
    read(in.get());
  }

 private:
  void node_opened() override { log.push_back("open " + std::to_string(depth())); }
  void fields_known() override { log.push_back("fields " + std::to_string(depth()) + " " + fields().dump()); }
  void node_closed() override {
    log.push_back("close " + std::to_string(depth()) + " " + fields().dump());
    closed = fields();
  }

 public:
  json closed;  // the fields of the node closed last
};

bool is_child_list(const std::string& key, const ordered& value) {
  return (key == "tasks" || key == "sections") && value.is_array();
}

// What the reader should show of `node`: its fields up to its first child list, its children,
// then all its fields.
void expect_walk(const ordered& node, std::size_t depth, std::vector<std::string>& log) {
  log.push_back("open " + std::to_string(depth));
  json before = json::object();
  json all = json::object();
  bool lists_begun = false;
  std::vector<const ordered*> children;
  for (const auto& [key, value] : node.items()) {
    if (is_child_list(key, value)) {
      if (!lists_begun) log.push_back("fields " + std::to_string(depth) + " " + before.dump());
      lists_begun = true;
      for (const auto& child : value) children.push_back(&child);
      // The children of this list come before any later field is read.
      for (const ordered* child : children) expect_walk(*child, depth + 1, log);
      children.clear();
      continue;
    }
    all[key] = json::parse(value.dump());
    if (!lists_begun) before[key] = all[key];
  }
  if (!lists_begun) log.push_back("fields " + std::to_string(depth) + " " + before.dump());
  log.push_back("close " + std::to_string(depth) + " " + all.dump());
}

TEST(ResultsReader, ShowsEachNodeWithTheFieldsReadSoFar) {
  const char* documents[] = {
      R"({"version": "3.4", "report": {"id": "job", "result": {"value": "passed"}}})",
      // Fields after a child list, both lists, lists in either order, deep field values.
      R"({"meta": {"tasks": [{"id": "not a node"}]}, "version": "3.4", "report": {"id": "job",
          "tasks": [{"id": "t", "sections": [{"id": "s", "extra": {"a": [1, {"b": null}]}}],
                     "tasks": [{"id": "u"}], "late": 2.5}],
          "summary": {"passed": 1}}})",
      // A key "" and a "tasks" that is no list are plain fields.
      R"({"report": {"": {"x": []}, "tasks": {"id": "field"}, "sections": [], "id": "r"},
          "version": "3.4"})",
  };
  for (const char* text : documents) {
    Recorder reader;
    reader.read_text(text);
    std::vector<std::string> expected;
    expect_walk(ordered::parse(text)["report"], 0, expected);
    EXPECT_EQ(reader.log, expected) << text;
  }
}

// The results writer writes non-finite reals as NaN, Infinity and -Infinity, which the parser
// does not know: they are read as those reals wherever they stand outside strings, also where
// a piece of the file read at a time ends inside one, and text that only looks like one stays
// text.
TEST(ResultsReader, ReadsTheNonFiniteRealsTheWriterWrites) {
  // Paddings that put the end of the first 64 KiB piece inside or just after each literal.
  for (const std::size_t padding : {0, 65471, 65472, 65481, 65483, 65484, 65489}) {
    const std::string text = R"({"version": "3.4", "report": {"pad": ")" + std::string(padding, 'p') +
                             R"(", "a": -Infinity, "b": [NaN,Infinity, 1, -2], "c": "NaN",)"
                             R"( "d": "x\" -Infinity", "e": 2.5}})";
    Recorder reader;
    reader.read_text(text);
    const json& fields = reader.closed;
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(fields["a"], -inf) << padding;
    ASSERT_EQ(fields["b"].size(), 4u);
    EXPECT_TRUE(std::isnan(fields["b"][0].get<double>())) << padding;
    EXPECT_EQ(fields["b"][1], inf);
    EXPECT_EQ(fields["b"][2], 1);
    EXPECT_EQ(fields["b"][3], -2);
    EXPECT_EQ(fields["c"], "NaN");
    EXPECT_EQ(fields["d"], "x\" -Infinity");
    EXPECT_EQ(fields["e"], 2.5);
  }
}

TEST(ResultsReader, RefusesWhatIsNoResultsDocumentNamingTheOrigin) {
  struct Case {
    std::string text;
    std::string expected;
  };
  // The top object is level 1: the arrays reach one level past the limit.
  const std::size_t levels = morvi::json_stream::ResultsReader::MAX_NESTING;
  const std::string deep = std::string(levels, '[') + std::string(levels, ']');
  const std::vector<Case> cases = {
      {R"({"version": "3.4", "report": {"tasks": [)", "doc.json: not a JSON document at byte"},
      {R"({"version": "3.4"})", "no \"report\" node"},
      {R"({"version": 3.4, "report": {}})", "format version 3.4, expected \"3.4\""},
      {R"({"report": {}})", "no \"version\""},
      {R"({"report": {}, "version": "3.4", "report": {}})", "more than one \"report\""},
      {R"({"version": "3.4", "report": {"id": "job", "tasks": [{"fullid": "job.t", "sections": [7]}]}})",
       "node 'job.t' (node 2 of the document): a child list holds a value that is not a node"},
      {R"({"version": "3.4", "report": {"id": "job", "tasks": [[]]}})",
       "node 'job' (node 1 of the document): a child list holds a list where a node was expected"},
      {R"({"version": "3.4", "deep": )" + deep + "}", "nest deeper than the limit of " + std::to_string(levels) + " levels"},
      // The parser stops at a NUL byte as at the end of the input: neither a document cut at
      // one nor one followed by one and more text reads as a document cut short or whole.
      {std::string(4, '\0'), "doc.json: not a JSON document at byte 1: a NUL byte outside a string"},
      {std::string("{\"version\": \"3.4\",\0 \"report\": {}}", 33),
       "not a JSON document at byte 19: a NUL byte outside a string"},
      {std::string("{\"version\": \"3.4\", \"report\": {}}\n\0{}", 36),
       "not a JSON document at byte 34: a NUL byte outside a string"},
  };
  for (const Case& c : cases) {
    Recorder reader;
    try {
      reader.read_text(c.text);
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const morvi::ParseError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("doc.json: ", 0), 0u) << message;
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
  }
}

// A folder opens as a file and fails at its first read: that is an error of reading, not a
// document that ends before it begins.
TEST(ResultsReader, ReportsAFileThatCannotBeReadAsSuch) {
  const morvi::testing::ScratchDir dir;
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(dir.path().c_str(), "rb"));
  ASSERT_TRUE(in);
  Recorder reader(dir.path().string());
  try {
    reader.read(in.get());
    ADD_FAILURE() << "read a folder";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EISDIR);
    EXPECT_EQ(std::string(e.what()).rfind("cannot read " + dir.path().string() + ": ", 0), 0u)
        << e.what();
  }
}

}  // namespace
