// YAMLDumper: Values to node events through the representer table. Representers write as they
// represent: a mapping's events go out while its pairs are walked, so a document is never held
// as a node tree.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "../text/roomy_stack.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "scalar_analysis.hpp"
#include "standard_representers.hpp"

namespace morvi::reporter::trialkit {
namespace {

struct RepresenterTable {
  std::array<YAMLDumper::Representer, kYAMLTypeCount> exact{};
  YAMLDumper::Representer fallback = nullptr;
};

// The safe dumper's standard set, then this module's own entries, in the order the module
// registers them.
RepresenterTable& representers() {
  static RepresenterTable table = [] {
    RepresenterTable t;
    const auto put = [&t](YAMLType type, YAMLDumper::Representer r) {
      t.exact[static_cast<std::size_t>(type)] = r;
    };
    put(YAMLType::NoneType, yaml_detail::represent_none);
    put(YAMLType::Bool, yaml_detail::represent_bool);
    put(YAMLType::Int, yaml_detail::represent_int);
    put(YAMLType::List, yaml_detail::represent_list);
    put(YAMLType::Tuple, yaml_detail::represent_list);
    put(YAMLType::Dict, yaml_detail::represent_dict);
    put(YAMLType::DateTime, yaml_detail::represent_datetime);
    put(YAMLType::Str, str_representer);
    put(YAMLType::Float, float_representer);
    put(YAMLType::Type, type_representer);
    t.fallback = unknown_representer;
    put(YAMLType::ResultCounter, ResultCounter_representer);
    put(YAMLType::TestResult, TestResult_representer);
    put(YAMLType::AttrDict, AttrDict_representer);
    put(YAMLType::TrialKit, to_yaml);
    put(YAMLType::Task, to_yaml);
    put(YAMLType::Section, to_yaml);
    put(YAMLType::Plugin, to_yaml);
    return t;
  }();
  return table;
}

}  // namespace

std::string YAMLDumper::dump(const Value& data) {
  return text::on_roomy_stack([&data] {
    YAMLDumper dumper;
    dumper.represent_data(data);
    dumper.emit_document_end();
    return dumper.document();
  });
}

void YAMLDumper::add_representer(std::optional<YAMLType> type, Representer representer) {
  if (representer == nullptr) throw ArgumentError("add_representer needs a representer");
  if (type)
    representers().exact[static_cast<std::size_t>(*type)] = representer;
  else
    representers().fallback = representer;
}

YAMLType YAMLDumper::type_of(const Value& data) {
  switch (data.kind()) {
    case Kind::None: return YAMLType::NoneType;
    case Kind::Bool: return YAMLType::Bool;
    case Kind::Int: return YAMLType::Int;
    case Kind::Float: return YAMLType::Float;
    case Kind::Text: return YAMLType::Str;
    case Kind::List: return YAMLType::List;
    case Kind::Tuple: return YAMLType::Tuple;
    case Kind::Map: return YAMLType::Dict;
    case Kind::AttrMap: return YAMLType::AttrDict;
    case Kind::DateTime: return YAMLType::DateTime;
    case Kind::Result: return YAMLType::TestResult;
    case Kind::Tally: return YAMLType::ResultCounter;
    case Kind::Error: return YAMLType::Error;
    case Kind::Opaque:
      return dynamic_cast<const TypeObject*>(data.as_object().get()) ? YAMLType::Type : YAMLType::Object;
    case Kind::Node: break;
  }
  switch (node_of(data).node_kind()) {
    case NodeKind::TrialKit: return YAMLType::TrialKit;
    case NodeKind::Task: return YAMLType::Task;
    case NodeKind::Plugin: return YAMLType::Plugin;
    case NodeKind::Section: return YAMLType::Section;
    case NodeKind::Base: break;
  }
  return YAMLType::ReportObjectBase;
}

void YAMLDumper::increase_indent(bool flow, bool) { YAMLEmitter::increase_indent(flow, false); }

void YAMLDumper::represent_data(const Value& data) {
  const RepresenterTable& table = representers();
  const Representer exact = table.exact[static_cast<std::size_t>(type_of(data))];
  (exact ? exact : table.fallback)(*this, data);
}

void YAMLDumper::represent_scalar(std::string_view tag, std::string_view value, ScalarStyle style) {
  emit_scalar(tag, value, style);
}

void YAMLDumper::represent_mapping(std::string_view tag, const Map& mapping) {
  std::vector<Pair> pairs;
  pairs.reserve(mapping.size());
  // Keys sort as the text a reader sees, so bytes that are not UTF-8 sort as U+FFFD.
  std::vector<std::string> cleaned;
  for (const auto& [key, value] : mapping) {
    if (utils::utf8::is_valid(key)) {
      pairs.emplace_back(key, &value);
    } else {
      if (cleaned.empty()) cleaned.reserve(mapping.size());
      pairs.emplace_back(cleaned.emplace_back(utils::utf8::sanitized(key)), &value);
    }
  }
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const Pair& a, const Pair& b) { return a.first < b.first; });
  represent_mapping(tag, pairs);
}

void YAMLDumper::represent_mapping(std::string_view tag, std::span<const Pair> pairs) {
  enter();
  emit_mapping_start(tag);
  for (const auto& [key, value] : pairs) {
    represent_key(key);
    represent_data(*value);
  }
  emit_mapping_end();
  leave();
}

void YAMLDumper::represent_sequence(std::string_view tag, const List& sequence) {
  enter();
  emit_sequence_start(tag);
  for (const Value& item : sequence) represent_data(item);
  emit_sequence_end();
  leave();
}

// Keys are texts; they go through the text representer like any other text, without first
// becoming a Value when that representer is the standard one.
void YAMLDumper::represent_key(std::string_view key) {
  const Representer text = representers().exact[static_cast<std::size_t>(YAMLType::Str)];
  if (text == str_representer)
    represent_str(key);
  else
    text(*this, Value(key));
}

void YAMLDumper::enter() {
  if (++depth_ > max_depth)
    throw SerializationError("cannot write the document as YAML: it nests containers deeper than " +
                             std::to_string(max_depth) + " levels");
}

}  // namespace morvi::reporter::trialkit
