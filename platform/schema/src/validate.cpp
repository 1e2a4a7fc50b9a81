#include <string_view>
#include <vector>

#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::schema {

namespace {

using json = nlohmann::json;

// More problems than this are summed up in one closing line.
constexpr std::size_t kMaxProblemLines = 200;
// Scalar values quoted in a problem line are cut to this many characters.
constexpr std::size_t kMaxQuotedValue = 60;

const valijson::Schema& results_schema() {
  static const struct Compiled {
    valijson::Schema schema;
    Compiled() {
      const json document = json::parse(results_schema_text());
      valijson::SchemaParser parser(valijson::SchemaParser::kDraft7);
      parser.populateSchema(valijson::adapters::NlohmannJsonAdapter(document), schema);
    }
  } compiled;
  return compiled.schema;
}

void append_pointer_segment(std::string& pointer, std::string_view segment) {
  pointer += '/';
  for (const char c : segment) {
    if (c == '~') {
      pointer += "~0";
    } else if (c == '/') {
      pointer += "~1";
    } else {
      pointer += c;
    }
  }
}

// The validator names a place as "<root>" followed by "[key]" or "[index]" segments.
std::string pointer_of(const std::vector<std::string>& context) {
  std::string pointer;
  for (std::size_t i = 1; i < context.size(); ++i) {
    const std::string& segment = context[i];
    append_pointer_segment(pointer, std::string_view(segment).substr(1, segment.size() - 2));
  }
  return pointer;
}

// The pointer of the first value nested deeper than MAX_DEPTH, if any. Walks with an explicit
// stack: this check is what keeps the recursive validator away from such documents.
std::optional<std::string> first_too_deep(const json& document) {
  struct Frame {
    const json* container;
    json::const_iterator next;
  };
  if (!document.is_structured()) return std::nullopt;
  std::vector<Frame> stack{{&document, document.cbegin()}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.container->cend()) {
      stack.pop_back();
      continue;
    }
    const json& child = *top.next;
    ++top.next;
    if (!child.is_structured()) continue;
    if (stack.size() == MAX_DEPTH) {
      std::string pointer;
      for (const Frame& frame : stack) {
        const auto at = std::prev(frame.next);
        append_pointer_segment(pointer, frame.container->is_object()
                                            ? at.key()
                                            : std::to_string(std::distance(frame.container->cbegin(), at)));
      }
      return pointer;
    }
    stack.push_back({&child, child.cbegin()});
  }
  return std::nullopt;
}

// The validator follows every failure of a nested value with a line that only repeats that a
// property or item failed; those say nothing the nested lines do not.
bool is_summary_line(std::string_view description) {
  return description.starts_with("Failed to validate against schema associated with property") ||
         description.starts_with("Failed to validate item #");
}

std::string describe(const json& document, const std::string& pointer,
                     const std::string& description) {
  std::string line = (pointer.empty() ? std::string("(root)") : pointer) + ": " + description;
  const json::json_pointer where(pointer);
  if (document.contains(where)) {
    const json& value = document.at(where);
    if (!value.is_structured()) {
      std::string quoted = value.dump(-1, ' ', false, json::error_handler_t::replace);
      if (quoted.size() > kMaxQuotedValue) quoted = quoted.substr(0, kMaxQuotedValue) + "...";
      line += " (value: " + quoted + ")";
    }
  }
  return line;
}

}  // namespace

std::optional<std::string> validate(const json& document) {
  if (const auto pointer = first_too_deep(document)) {
    return *pointer + ": arrays and objects nest deeper than the limit of " +
           std::to_string(MAX_DEPTH) + " levels";
  }
  const valijson::adapters::NlohmannJsonAdapter target(document);
  // A first pass that stops at the first failure is much cheaper than collecting every
  // problem; the full pass runs only for a document that fails.
  if (valijson::Validator().validate(results_schema(), target, nullptr)) return std::nullopt;

  valijson::ValidationResults results;
  valijson::Validator().validate(results_schema(), target, &results);
  std::string report;
  std::size_t lines = 0;
  std::size_t more = 0;
  for (const auto& error : results) {
    if (is_summary_line(error.description)) continue;
    if (lines == kMaxProblemLines) {
      ++more;
      continue;
    }
    if (lines++ > 0) report += '\n';
    report += describe(document, pointer_of(error.context), error.description);
  }
  if (more > 0) report += "\n(" + std::to_string(more) + " more problems not shown)";
  if (report.empty()) report = "(root): the document does not match the results schema";
  return report;
}

}  // namespace morvi::reporter::schema
