#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include "compiled_schema.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/printable.hpp"
#include "morvi/utils/deep_stack.hpp"
#include "problem_walk.hpp"

namespace morvi::reporter::schema {

namespace {

using json = nlohmann::json;
using quick::append_pointer_segment;

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

// The validator's description, with the value quoted when it is a scalar.
std::string describe(const json& document, const std::string& pointer,
                     const std::string& description) {
  const json::json_pointer where(pointer);
  return document.contains(where) ? quick::describe(document.at(where), description) : description;
}

bool is_whole_real(const json& value) {
  if (!value.is_number_float()) return false;
  const double x = value.get<double>();
  return std::isfinite(x) && std::trunc(x) == x;
}

// The integer a whole real stands for in the validator's copy. The validator asks only
// whether a number is stored as an integer, while JSON Schema counts 2.0 and 1e2 as integers;
// past 64 bits the value is clamped, which keeps its type and its order against any bound.
json as_integer(double x) {
  constexpr double two_to_63 = 9223372036854775808.0;
  if (x >= -two_to_63 && x < two_to_63) return static_cast<std::int64_t>(x);
  if (x > 0) return x < 2 * two_to_63 ? static_cast<std::uint64_t>(x) : std::numeric_limits<std::uint64_t>::max();
  return std::numeric_limits<std::int64_t>::min();
}

// A copy of `document` with every whole real stored as an integer; none when it has none.
std::optional<json> with_whole_reals_as_integers(const json& document) {
  std::vector<const json*> pending{&document};
  bool found = false;
  while (!pending.empty() && !found) {
    const json* value = pending.back();
    pending.pop_back();
    found = is_whole_real(*value);
    if (value->is_structured()) {
      for (const json& child : *value) pending.push_back(&child);
    }
  }
  if (!found) return std::nullopt;
  json copy = document;
  std::vector<json*> todo{&copy};
  while (!todo.empty()) {
    json* value = todo.back();
    todo.pop_back();
    if (is_whole_real(*value)) {
      *value = as_integer(value->get<double>());
    } else if (value->is_structured()) {
      for (json& child : *value) todo.push_back(&child);
    }
  }
  return copy;
}

// The problems the schema validator finds. It recurses with the document's nesting, and so
// does the copy with whole reals as integers. Its time and memory grow with the square of the
// depth (every level copies the path down to it), so it is left only the schemas the compiled
// form does not know.
void check_against_validator(const json& document, std::size_t max_problems, Findings& findings) {
  const std::optional<json> converted = with_whole_reals_as_integers(document);
  const valijson::adapters::NlohmannJsonAdapter target(converted ? *converted : document);
  // A first pass that stops at the first failure is much cheaper than collecting every
  // problem; the full pass runs only for a document that fails.
  if (valijson::Validator().validate(results_schema(), target, nullptr)) return;

  valijson::ValidationResults results;
  valijson::Validator().validate(results_schema(), target, &results);
  for (const auto& error : results) {
    if (is_summary_line(error.description)) continue;
    if (findings.problems.size() == max_problems) {
      ++findings.not_shown;
      continue;
    }
    // Values are quoted from the document as written, 2.0 and not the 2 it was checked as.
    std::string pointer = pointer_of(error.context);
    std::string message = describe(document, pointer, error.description);
    findings.problems.push_back({std::move(pointer), std::move(message)});
  }
  if (findings.empty()) {
    findings.problems.push_back({"", "the document does not match the results schema"});
  }
}

// The walk along the compiled schema words the problems as the validator would, in time and
// memory that grow with the document alone; the validator takes over where that walk meets a
// subschema the compiled form does not know.
void check_against_schema(const json& document, std::size_t max_problems, Findings& findings) {
  if (quick::walk_problems(quick::compiled_results_schema(), document, max_problems, findings)) return;
  findings = {};
  check_against_validator(document, max_problems, findings);
}

}  // namespace

Findings find_problems(const json& document, std::size_t max_problems) {
  Findings findings;
  if (const auto pointer = first_too_deep(document)) {
    findings.problems.push_back({*pointer, "arrays and objects nest deeper than the limit of " +
                                               std::to_string(MAX_DEPTH) + " levels"});
    return findings;
  }
  utils::on_deep_stack([&] { check_against_schema(document, max_problems, findings); });
  return findings;
}

std::string problem_lines(const Findings& findings) {
  std::string report;
  for (const Problem& problem : findings.problems) {
    if (!report.empty()) report += '\n';
    report += problem.pointer.empty() ? std::string("(root)") : printable_text(problem.pointer);
    report += ": " + printable_text(problem.message);
  }
  if (findings.not_shown > 0) {
    report += "\n(" + std::to_string(findings.not_shown) + " more problems not shown)";
  }
  return report;
}

std::optional<std::string> validate(const json& document) {
  const Findings findings = find_problems(document);
  if (findings.empty()) return std::nullopt;
  return problem_lines(findings);
}

}  // namespace morvi::reporter::schema
