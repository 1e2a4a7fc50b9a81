// The page's embedded data read back by Python's json and compared node by node with the
// results document (decode_check.py); hostile text kept as data; bad input refused whole.
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "morvi/errors.hpp"
#include "morvi/results_depth.hpp"
#include "morvi/service/html_report/report.hpp"
#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "sample_tree.hpp"

namespace {

using morvi::testing::file_text;

namespace fs = std::filesystem;
using morvi::service::html_report::write_html_report;

void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class HtmlReport : public ::testing::Test {
 protected:
  morvi::testing::ScratchDir scratch;
  fs::path results = scratch / "results.json";
  fs::path page = scratch / "report.html";

  // decode_check.py's verdict: "" when the page's data matches the document.
  std::string python_check() {
    const fs::path script = morvi::testing::source_dir() / "service/html_report/tests/decode_check.py";
    const fs::path printed = scratch / "check.txt";
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + results.string() +
                                "' '" + page.string() + "' > '" + printed.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return status == 0 ? "" : file_text(printed);
  }
};

TEST_F(HtmlReport, EveryNodeOfTheSampleJobReadsBackAsTheDocumentHoldsIt) {
  write(results, morvi::examples::build_sample_job(scratch / "logs")->dump_json());
  const auto counts = write_html_report(results.string(), page.string());
  EXPECT_EQ(python_check(), "");
  EXPECT_GT(counts.nodes, 20u);
  EXPECT_EQ(counts.bytes, fs::file_size(page));
  const std::string html = file_text(page);
  EXPECT_EQ(occurrences(html, "http:") + occurrences(html, "https:"), 0u) << "the page loads nothing";
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// Identifiers of every kind, names that differ from ids, full ids that cannot be derived, a
// section whose result carries a reason, and hostile text in every place text can go.
TEST_F(HtmlReport, HostileAndOddTextStaysData) {
  const std::string big(1 << 20, 'x');
  const std::string hostile = "</script><script>alert(1)</script><!-- \"q\" 'a' & \x01\x1b\x7f \\ "
                              "\xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80 <img src=x onerror=alert(2)>";
  const std::string hostile_json = [&] {
    std::string out = "\"";
    for (const unsigned char c : hostile) {
      if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
      else if (c < 0x20) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
        out += buffer;
      } else out += static_cast<char>(c);
    }
    return out + "\"";
  }();
  write(results,
        "{\"version\": \"3.4\", \"report\": {\"type\": \"TrialKit\", \"id\": " + hostile_json +
            ", \"idlist\": [1], \"summary\": {\"passed\": 0, \"failed\": 1, \"total\": 1, \"success_rate\": 0.0},"
            " \"tasks\": [{\"type\": \"Task\", \"id\": 7, \"name\": " + hostile_json +
            ", \"idlist\": [7], \"runtime\": 1.5, \"result\": {\"value\": \"failed\"}, \"sections\": ["
            "{\"type\": \"Testcase\", \"id\": [1, \"a\"], \"fullid\": \"elsewhere\", \"idlist\": [7],"
            " \"description\": \"" + big + "\", \"runtime\": 0.25,"
            " \"result\": {\"value\": \"errored\", \"reason\": " + hostile_json + "},"
            " \"details\": [" + hostile_json + ", 3], \"logs\": {\"file\": \"t.log\", \"begin\": 5, \"size\": 9},"
            " \"extra\": {" + hostile_json + ": {\"nested\": [1, 2]}}, \"sections\": ["
            "{\"type\": \"Step\", \"id\": \"s\", \"idlist\": [7], \"result\": {\"value\": \"passed\"}}]}]}]}}");
  write_html_report(results.string(), page.string());
  EXPECT_EQ(python_check(), "");
  const std::string html = file_text(page);
  // The data block and the page's script end; nothing from the data ends or opens anything.
  EXPECT_EQ(occurrences(html, "</script"), 2u);
  EXPECT_EQ(occurrences(html, "<!--"), 0u);
  EXPECT_EQ(occurrences(html, "<img"), 0u);
  EXPECT_EQ(occurrences(html, "\x1b"), 0u);
  EXPECT_EQ(occurrences(html, big), 1u) << "a large field is written once";
}

TEST_F(HtmlReport, BadInputIsRefusedNamingWhereAndLeavesTheOldPage) {
  write(page, "old page");
  struct Case {
    const char* document;
    const char* message;
  };
  const Case cases[] = {
      {"{\"version\": \"3.4\", \"report\": {\"type\": \"T\"", "not a JSON document at byte"},
      {"{\"version\": \"3.3\", \"report\": {\"type\": \"T\", \"idlist\": [1]}}", "format version \"3.3\""},
      {"{\"version\": \"3.4\"}", "no \"report\" node"},
      {"{\"version\": \"3.4\", \"report\": {\"id\": \"job\", \"result\": {\"value\": \"fine\"}}}",
       "node 'job' (node 1 of the document): unknown result \"fine\""},
      {"{\"version\": \"3.4\", \"report\": {\"id\": \"job\", \"tasks\": [{\"id\": \"t\", \"result\": 3}]}}",
       "node 't' (node 2 of the document): \"result\" is not a result object"},
      {"{\"version\": \"3.4\", \"report\": {\"id\": \"job\", \"tasks\": [5]}}",
       "node 'job' (node 1 of the document): a child list holds a value that is not a node"},
  };
  for (const Case& c : cases) {
    write(results, c.document);
    try {
      write_html_report(results.string(), page.string());
      ADD_FAILURE() << c.document;
    } catch (const morvi::ParseError& e) {
      EXPECT_NE(std::string(e.what()).find(results.string() + ": "), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(file_text(page), "old page");
  }
  // Nested past the limit the results writer keeps to.
  const std::size_t levels = morvi::MAX_RESULTS_NESTING;
  write(results, "{\"version\": \"3.4\", \"report\": {\"extra\": " + std::string(levels, '[') +
                     std::string(levels, ']') + "}}");
  EXPECT_THROW(write_html_report(results.string(), page.string()), morvi::ParseError);
  EXPECT_THROW(write_html_report((scratch / "missing.json").string(), page.string()), std::system_error);
  EXPECT_EQ(file_text(page), "old page");
}

}  // namespace
