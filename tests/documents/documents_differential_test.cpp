// The results documents against the reference writers: Python's json and PyYAML, configured
// as the documents require, fed the same values. Any difference is a fault here until shown
// otherwise.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "oracle_cases.hpp"
#include "value_generator.hpp"

namespace morvi::testing {
namespace {

using reporter::trialkit::JSONDumper;
using reporter::trialkit::YAMLDumper;

std::optional<std::string> written(const std::function<std::string()>& write) {
  try {
    return write();
  } catch (const SerializationError&) {
    return std::nullopt;
  }
}

std::string visible(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == '\n')
      out += "\\n\n";
    else
      out.push_back(c);
  }
  return out;
}

// Where two documents part, with some context.
std::string difference(const std::optional<std::string>& expected, const std::optional<std::string>& actual) {
  if (!expected || !actual)
    return std::string("expected ") + (expected ? "a document" : "a refusal") + ", got " +
           (actual ? "a document:\n" + visible(*actual) : std::string("a refusal"));
  std::size_t at = 0;
  while (at < expected->size() && at < actual->size() && (*expected)[at] == (*actual)[at]) ++at;
  const std::size_t from = at > 160 ? at - 160 : 0;
  return "first difference at byte " + std::to_string(at) + "\n--- expected:\n" +
         visible(expected->substr(from, 320)) + "\n--- actual:\n" + visible(actual->substr(from, 320));
}

struct Case {
  nlohmann::json tagged;
  std::function<std::string()> json;
  std::function<std::string()> yaml;
};

void expect_oracle_agrees(const std::vector<Case>& cases) {
  std::vector<nlohmann::json> tagged_cases;
  for (const Case& c : cases) tagged_cases.push_back(c.tagged);
  const std::vector<OracleDocuments> expected = run_oracle(tagged_cases);
  int reported = 0;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto json = written(cases[i].json);
    const auto yaml = written(cases[i].yaml);
    for (const auto& [what, want, got] : {std::tuple("JSON", expected[i].json, json),
                                          std::tuple("YAML", expected[i].yaml, yaml)}) {
      if (want == got) continue;
      ADD_FAILURE() << what << " of case " << i << " differs from the oracle; the case: "
                    << cases[i].tagged.dump().substr(0, 2000) << "\n"
                    << difference(want, got);
      if (++reported == 8) return;
    }
  }
}

nlohmann::json tagged_header(const nlohmann::json& report) {
  // "version" and "report" as hex texts.
  using nlohmann::json;
  return json::array({"dict", json::array({json::array({"76657273696f6e", json::array({"str", "332e34"})}),
                                           json::array({"7265706f7274", report})})});
}

TEST(DocumentsAgainstOracle, GeneratedValuesAtTheRootAndUnderAHeader) {
  ValueGenerator gen(20240611);
  std::vector<Case> cases;
  std::vector<Value> values;
  for (int i = 0; i < 3000; ++i) values.push_back(gen.value(4));
  for (const Value& v : values) {
    cases.push_back({tagged(v), [&v] { return JSONDumper::encode(v); }, [&v] { return YAMLDumper::dump(v); }});
    const Value header(Map{{"version", Value("3.4")}, {"report", v}});
    cases.push_back({tagged_header(tagged(v)), [header] { return JSONDumper::encode(header); },
                     [header] { return YAMLDumper::dump(header); }});
  }
  expect_oracle_agrees(cases);
}

TEST(DocumentsAgainstOracle, TextsAndRealsUnderKeysAndInSequences) {
  ValueGenerator gen(7);
  std::vector<Case> cases;
  for (int i = 0; i < 2000; ++i) {
    Map m;
    m.set(gen.key(), Value(gen.text()));
    m.set(gen.key(), Value(gen.real()));
    m.set(gen.key(), Value(List{Value(gen.text()), Value(gen.real()), Value(List{Value(gen.text())})}));
    const Value v(std::move(m));
    cases.push_back({tagged(v), [v] { return JSONDumper::encode(v); }, [v] { return YAMLDumper::dump(v); }});
  }
  expect_oracle_agrees(cases);
}

TEST(DocumentsAgainstOracle, GeneratedJobs) {
  ValueGenerator gen(99);
  std::vector<Case> cases;
  std::vector<std::shared_ptr<reporter::trialkit::TrialKit>> jobs;
  for (int i = 0; i < 40; ++i) {
    auto job = gen.job(1 + i % 4, i % 4);
    cases.push_back({tagged_header(tagged(Value::node(job))), [job] { return job->dump_json(); },
                     [job] { return job->dump_yaml(); }});
    const auto& task = job->children().front();
    cases.push_back({tagged_header(tagged(task)), [task] { return reporter::trialkit::node_of(task).dump_json(); },
                     [task] { return reporter::trialkit::node_of(task).dump_yaml(); }});
    jobs.push_back(std::move(job));
  }
  expect_oracle_agrees(cases);
}

// Each character that keeps a word from being written plain, at every place of short texts,
// alone and beside a space.
TEST(DocumentsAgainstOracle, TextsWithOneDisturbingCharacterAtEachPlace) {
  const std::vector<std::string> disturbing = {":", "#", " ", "\t", "\x7f", "\x1f", "\xc3\xa9", "-", "?",
                                               "'", "\"", "!", "%", ": ", " #", "\n", "\x80"};
  std::vector<Case> cases;
  for (const std::size_t length : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 25u}) {
    for (const std::string& d : disturbing) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length, 'w');
        text.replace(at, 1, d);
        const Value v(Map{{"k", Value(text)}, {"l", Value::list({Value(text)})}});
        cases.push_back({tagged(v), [v] { return JSONDumper::encode(v); }, [v] { return YAMLDumper::dump(v); }});
      }
    }
  }
  expect_oracle_agrees(cases);
}

// A document written to a file goes out in chunks cut between values: it must read the same as
// the oracle's, escapes and characters beyond ASCII included wherever the cuts fall.
TEST(DocumentsAgainstOracle, ADocumentWrittenToAFileInChunks) {
  ValueGenerator gen(31);
  List items;
  std::size_t approximate = 0;
  for (int i = 0; approximate < (std::size_t{5} << 20); ++i) {
    std::string text = gen.text() + std::string(static_cast<std::size_t>(i % 997), 'x') + "\"\x01\xe2\x82\xac\xf0\x9f\x98\x80";
    approximate += text.size() * 2;
    items.push_back(Value(Map{{"t", Value(std::move(text))}, {"n", Value::list({Value(Map{{"r", Value(gen.real())}})})}}));
  }
  const Value document(std::move(items));
  const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / "chunked.json";
  JSONDumper::encode_file(document, path.string());
  std::ifstream in(path, std::ios::binary);
  std::ostringstream file;
  file << in.rdbuf();
  std::filesystem::remove(path);
  const std::string written_text = file.str();
  const std::filesystem::path yaml_path = std::filesystem::path(::testing::TempDir()) / "chunked.yaml";
  YAMLDumper::dump_file(document, yaml_path.string());
  std::ifstream yaml_in(yaml_path, std::ios::binary);
  std::ostringstream yaml_file;
  yaml_file << yaml_in.rdbuf();
  std::filesystem::remove(yaml_path);
  const std::string yaml_text = yaml_file.str();
  EXPECT_EQ(yaml_text, YAMLDumper::dump(document));
  expect_oracle_agrees({{tagged(document), [&] { return written_text; }, [&] { return yaml_text; }}});
}

}  // namespace
}  // namespace morvi::testing
