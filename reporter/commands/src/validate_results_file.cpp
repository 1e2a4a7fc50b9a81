#include <algorithm>
#include <ostream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "morvi/errors.hpp"
#include "morvi/printable.hpp"
#include "morvi/reporter/commands.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace morvi::reporter::commands {

namespace {

// How one file fared.
struct Outcome {
  enum class Verdict { Accepted, Invalid, Unreadable };
  Verdict verdict = Verdict::Accepted;
  schema::Findings findings;  // a document that does not meet the schema
  std::string error;          // a file that cannot be read or is not JSON
  std::size_t line = 0;       // where the JSON stops being JSON
  std::size_t column = 0;

  int status() const {
    switch (verdict) {
      case Verdict::Accepted: return 0;
      case Verdict::Invalid: return ERROR;
      case Verdict::Unreadable: return cli::IO_ERROR;
    }
    return ERROR;
  }
  const char* verdict_name() const {
    switch (verdict) {
      case Verdict::Accepted: return "accepted";
      case Verdict::Invalid: return "invalid";
      case Verdict::Unreadable: return "unreadable";
    }
    return "invalid";
  }
};

Outcome check_file(const std::string& path, std::size_t max_bytes) {
  Outcome outcome;
  schema::TextBuffer text;
  try {
    text = schema::read_text_buffer(path, max_bytes);
  } catch (const std::system_error& e) {
    outcome.verdict = Outcome::Verdict::Unreadable;
    outcome.error = e.code() == std::errc::file_too_large
                        ? path + ": more than the limit of " + std::to_string(max_bytes) +
                              " bytes (--max-size sets the limit)"
                        : e.what();
    return outcome;
  }
  try {
    outcome.findings = schema::check_results_text(text.view(), path);
    if (!outcome.findings.empty()) outcome.verdict = Outcome::Verdict::Invalid;
  } catch (const ParseError& e) {
    outcome.verdict = Outcome::Verdict::Invalid;
    outcome.error = e.what();
    outcome.line = e.line();
    outcome.column = e.column();
  }
  return outcome;
}

// Every line of `lines` led by "<prefix>: ".
std::string prefixed(const std::string& lines, const std::string& prefix) {
  std::string out = prefix + ": ";
  for (const char c : lines) {
    out += c;
    if (c == '\n') out += prefix + ": ";
  }
  return out;
}

}  // namespace

ValidateResultsFile::ValidateResultsFile(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("file", "[file]", Kind::Text, "Results JSON file to validate").one_or_more();
  parser.add_argument("--format", "FORMAT", Kind::Text,
                      "text (the default): a line per problem; json: one document listing "
                      "every file and every problem with its file and JSON pointer")
      .one_of({"text", "json"});
  parser.add_flag("--quiet", "print nothing for a file that is accepted");
  parser.add_argument("--max-size", "BYTES", Kind::Int,
                      "refuse a file holding more than BYTES bytes; " +
                          std::to_string(schema::DEFAULT_MAX_READ_BYTES) + " (1 GiB) by default")
      .at_least(1);
}

cli::Status ValidateResultsFile::run(const cli::Arguments& args) {
  const List& files = args["file"].as_list();
  const bool json_format = !args["format"].is_none() && args["format"].as_text() == "json";
  const bool quiet = args["quiet"].truthy();
  const std::size_t max_bytes = args["max_size"].is_none()
                                    ? schema::DEFAULT_MAX_READ_BYTES
                                    : static_cast<std::size_t>(args["max_size"].as_int());

  int status = 0;
  auto report = nlohmann::ordered_json::object();
  report["files"] = nlohmann::ordered_json::array();
  report["problems"] = nlohmann::ordered_json::array();
  for (const Value& file : files) {
    const std::string path(file.as_text());
    const Outcome outcome = check_file(path, max_bytes);
    // Unreadable outranks invalid, which outranks accepted.
    status = std::max(status, outcome.status());
    if (json_format) {
      auto entry = nlohmann::ordered_json::object({{"file", path}, {"status", outcome.verdict_name()}});
      if (outcome.findings.not_shown > 0) entry["problems_not_shown"] = outcome.findings.not_shown;
      report["files"].push_back(std::move(entry));
      for (const schema::Problem& problem : outcome.findings.problems) {
        report["problems"].push_back(
            {{"file", path}, {"pointer", problem.pointer}, {"message", problem.message}});
      }
      if (!outcome.error.empty()) {
        auto problem = nlohmann::ordered_json::object({{"file", path}, {"pointer", nullptr}});
        if (outcome.line > 0) {
          problem["line"] = outcome.line;
          problem["column"] = outcome.column;
        }
        problem["message"] = outcome.error;
        report["problems"].push_back(std::move(problem));
      }
    } else if (!outcome.error.empty()) {
      print_error(outcome.error);
    } else if (!outcome.findings.empty()) {
      const std::string lines = schema::problem_lines(outcome.findings);
      out() << (files.size() > 1 ? prefixed(lines, printable_text(path)) : lines) << '\n';
    } else if (!quiet) {
      out() << path << " accepted\n";
    }
  }
  if (json_format) {
    out() << report.dump(2, ' ', true, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  }
  if (status == 0) return std::nullopt;
  return status;
}

}  // namespace morvi::reporter::commands
