// The representers this module registers on YAMLDumper: texts, reals, types, the fallback for
// everything without an entry of its own, tallies, result values, attribute maps and the four
// report node kinds.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../nodes/id_chain.hpp"
#include "morvi/kind_names.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "morvi/results.hpp"
#include "scalar_analysis.hpp"
#include "scalar_texts.hpp"

namespace morvi::reporter::trialkit {
namespace {

bool is_ascii_whitespace(unsigned char c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

bool is_wide_whitespace(char32_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The length of valid UTF-8 `line` without its trailing white space.
std::size_t without_trailing_whitespace(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0) {
    const auto last = static_cast<unsigned char>(line[end - 1]);
    if (last < 0x80) {
      if (!is_ascii_whitespace(last)) break;
      --end;
      continue;
    }
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80) --start;
    if (!is_wide_whitespace(utils::utf8::decode(line, start).value)) break;
    end = start;
  }
  return end;
}

// Most texts are short, where a plain loop beats a call to memchr.
bool has_line_feed(std::string_view text) {
  if (text.size() > 32) return text.find('\n') != std::string_view::npos;
  for (const char c : text)
    if (c == '\n') return true;
  return false;
}

}  // namespace

std::string TypeObject::name_of(const Value& data) {
  if (data.kind() == Kind::Error) return data.as_error().kind;
  if (const char* python = names_of(data.kind()).python) return python;
  return data.as_object()->type_name();
}

// A text with a line feed becomes a literal block of its lines without their trailing white
// space; any other text is left to the emitter's choice of style.
void YAMLDumper::represent_str(std::string_view text) {
  if (yaml_detail::is_plain_text(text)) {
    represent_plain_scalar(YAML_STR, text);
    return;
  }
  if (!has_line_feed(text)) {
    represent_scalar(YAML_STR, text);
    return;
  }
  std::string cleaned;
  if (!utils::utf8::is_valid(text)) text = cleaned = utils::utf8::sanitized(text);
  stripped_.clear();
  for (std::size_t begin = 0;;) {
    const std::size_t end = std::min(text.find('\n', begin), text.size());
    const std::string_view line = text.substr(begin, end - begin);
    stripped_.append(line.substr(0, without_trailing_whitespace(line)));
    if (end == text.size()) break;
    stripped_.push_back('\n');
    begin = end + 1;
  }
  represent_scalar(YAML_STR, stripped_, ScalarStyle::Literal);
}

void str_representer(YAMLDumper& dumper, const Value& data) { dumper.represent_str(data.as_text()); }

void float_representer(YAMLDumper& dumper, const Value& data) {
  char buf[yaml_detail::kScalarTextMax];
  const std::string_view text = yaml_detail::float_text(data.as_number(), buf);
  // Reals that read back as reals (all but exponents without a point, nan and inf) hold only
  // digits, signs, a point and an exponent, which plain style holds.
  if (yaml_detail::same_tag(yaml_detail::resolve_plain(text), YAML_FLT))
    dumper.represent_plain_scalar(YAML_FLT, text);
  else
    dumper.represent_scalar(YAML_FLT, text);
}

void type_representer(YAMLDumper& dumper, const Value& data) {
  dumper.represent_scalar(YAML_STR, data.as_object()->repr());
}

// The map {"type", "repr"}, written with its keys sorted.
void unknown_representer(YAMLDumper& dumper, const Value& data) {
  YAMLDumper::MappingParts& parts = dumper.mapping_parts();
  parts.values.reserve(2);
  const Value& repr = parts.values.emplace_back(data.to_repr());
  const Value& type =
      parts.values.emplace_back(Value::opaque(std::make_shared<TypeObject>(TypeObject::name_of(data))));
  parts.pairs.emplace_back("repr", &repr);
  parts.pairs.emplace_back("type", &type);
  dumper.represent_parts(YAML_MAP);
}

void ResultCounter_representer(YAMLDumper& dumper, const Value& data) {
  const results::ResultCounter& tally = data.as_tally();
  YAMLDumper::MappingParts& parts = dumper.mapping_parts();
  // Reserved in full, so that the pairs' pointers into the parts stay put; the keys are the
  // tally's own, which outlives the mapping.
  std::size_t count = 2;
  tally.for_each([&count](std::string_view, std::int64_t) { ++count; });
  parts.values.reserve(count);
  tally.for_each([&parts](std::string_view key, std::int64_t n) {
    parts.pairs.emplace_back(key, &parts.values.emplace_back(n));
  });
  parts.pairs.emplace_back("total", &parts.values.emplace_back(tally.total()));
  parts.pairs.emplace_back("success_rate", &parts.values.emplace_back(tally.success_rate()));
  dumper.represent_parts(YAML_MAP);
}

// The map {"value", "reason" when non-empty, "data" when non-empty}, written with its keys
// sorted as every map is: data, reason, value.
void TestResult_representer(YAMLDumper& dumper, const Value& data) {
  const results::TestResult& result = data.as_result();
  YAMLDumper::MappingParts& parts = dumper.mapping_parts();
  parts.values.reserve(3);
  if (!result.data().empty()) parts.pairs.emplace_back("data", &parts.values.emplace_back(result.data()));
  if (!result.reason().empty())
    parts.pairs.emplace_back("reason", &parts.values.emplace_back(result.reason()));
  parts.pairs.emplace_back("value", &parts.values.emplace_back(result.value()));
  dumper.represent_parts(YAML_MAP);
}

void AttrDict_representer(YAMLDumper& dumper, const Value& data) {
  dumper.represent_mapping(YAML_MAP, data.as_map());
}

namespace {

// Gathers into `ids` the ids of the node and its ancestors up to the one that starts its full
// id, farthest first, when fullid and idlist can be written from them where they are: the node
// does not start the full id itself (its fullid is then its id, of whatever kind) and every id
// is a scalar with its standard representer. Computing the two fields instead allocates a
// vector, a text and a list of copies.
bool gather_ids(const ReportObjectBase& node, std::vector<const Value*>& ids) {
  if (starts_fullid(node)) return false;
  for (const ReportObjectBase* p = &node;; p = p->parent()) {
    const Value& id = p->id();
    if (!YAMLDumper::is_standard_scalar(id)) return false;
    ids.push_back(&id);
    if (starts_fullid(*p)) break;
  }
  std::reverse(ids.begin(), ids.end());
  return true;
}

}  // namespace

void to_yaml(YAMLDumper& dumper, const Value& data) {
  const ReportObjectBase& node = node_of(data);
  const auto names = node.arg_order();
  // Computed fields live in the parts while their pairs are written; reserved in full, so that
  // the pairs' pointers into them stay put.
  YAMLDumper::MappingParts& parts = dumper.mapping_parts();
  parts.fields.reserve(names.size());
  const bool in_place = gather_ids(node, parts.ids);
  if (!in_place) parts.ids.clear();
  parts.values.reserve(1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (in_place && names[i] == "fullid") {
      // Joined as ReportObjectBase::fullid joins them.
      std::string fullid;
      for (const Value* id : parts.ids) {
        if (id != parts.ids.front()) fullid += '.';
        id->append_text(fullid);
      }
      parts.pairs.emplace_back(names[i], &parts.values.emplace_back(std::move(fullid)));
      continue;
    }
    if (in_place && names[i] == "idlist") {
      parts.pairs.emplace_back(names[i], nullptr);
      continue;
    }
    FieldRef field = node.listed_field(i);
    if (is_ignored(*field)) continue;
    parts.pairs.emplace_back(names[i], &*parts.fields.emplace_back(std::move(field)));
  }
  dumper.represent_parts(YAML_MAP, &node);
}

}  // namespace morvi::reporter::trialkit
