// YAMLDumper: Values to node events through the representer table. Representers write as they
// represent: a mapping's events go out while its pairs are walked, so a document is never held
// as a node tree. Open collections wait on the dumper's own stack, not the machine's.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "scalar_analysis.hpp"
#include "scalar_texts.hpp"
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

// The text the standard representer of `data`'s kind writes plain, tagged as it reads back
// (none, truth values, integers, reals that read back as reals, date-times, texts that are
// quiet words), while that representer is the registered one; empty for any other value.
std::string_view plain_text_of(const Value& data, char (&buf)[yaml_detail::kScalarTextMax]) {
  const RepresenterTable& table = representers();
  const auto standard = [&table](YAMLType type, YAMLDumper::Representer r) {
    return table.exact[static_cast<std::size_t>(type)] == r;
  };
  switch (data.kind()) {
    case Kind::None:
      return standard(YAMLType::NoneType, yaml_detail::represent_none) ? "null" : std::string_view();
    case Kind::Bool:
      if (!standard(YAMLType::Bool, yaml_detail::represent_bool)) return {};
      return data.as_bool() ? "true" : "false";
    case Kind::Int:
      return standard(YAMLType::Int, yaml_detail::represent_int) ? yaml_detail::int_text(data.as_int(), buf)
                                                                  : std::string_view();
    case Kind::Float: {
      if (!standard(YAMLType::Float, float_representer)) return {};
      const std::string_view text = yaml_detail::float_text(data.as_number(), buf);
      return yaml_detail::same_tag(yaml_detail::resolve_plain(text), YAML_FLT) ? text : std::string_view();
    }
    case Kind::DateTime:
      return standard(YAMLType::DateTime, yaml_detail::represent_datetime)
                 ? yaml_detail::datetime_text(data.as_datetime(), buf)
                 : std::string_view();
    case Kind::Text: {
      const std::string_view text = data.as_text();
      return standard(YAMLType::Str, str_representer) && yaml_detail::is_plain_text(text) ? text
                                                                                         : std::string_view();
    }
    default: return {};
  }
}

}  // namespace

std::string YAMLDumper::dump(const Value& data) {
  YAMLDumper dumper;
  dumper.represent_data(data);
  dumper.emit_document_end();
  return dumper.document();
}

void YAMLDumper::dump_file(const Value& data, const std::string& path) {
  utils::AtomicFile file(path);
  YAMLDumper dumper;
  dumper.set_sink(&file);
  dumper.represent_data(data);
  dumper.emit_document_end();
  dumper.flush();
  file.commit();
}

void YAMLDumper::add_representer(std::optional<YAMLType> type, Representer representer) {
  if (representer == nullptr) throw ArgumentError("add_representer needs a representer");
  if (type)
    representers().exact[static_cast<std::size_t>(*type)] = representer;
  else
    representers().fallback = representer;
}

YAMLDumper::Representer YAMLDumper::representer(std::optional<YAMLType> type) {
  return type ? representers().exact[static_cast<std::size_t>(*type)] : representers().fallback;
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

void YAMLDumper::dispatch(const Value& data) {
  const RepresenterTable& table = representers();
  const Representer exact = table.exact[static_cast<std::size_t>(type_of(data))];
  (exact ? exact : table.fallback)(*this, data);
}

// The frames this call opens are written here; a representer that calls in again for a value
// of its own gets that value written before it goes on.
void YAMLDumper::represent_data(const Value& data) {
  const std::size_t base = open_;
  // Keys go through the text representer: a pair is one plain line only while it is the
  // standard one.
  const bool standard_keys = representers().exact[static_cast<std::size_t>(YAMLType::Str)] == str_representer;
  dispatch(data);
  while (open_ > base) {
    hand_out();
    // Opening a collection may move the frames: nothing of `f` is used after a dispatch.
    Frame& f = frames_[open_ - 1];
    if (f.sequence != nullptr) {
      if (f.next < f.sequence->size()) {
        represent_item((*f.sequence)[f.next++]);
        continue;
      }
      emit_sequence_end();
    } else {
      if (f.next < f.parts.pairs.size()) {
        const Pair pair = f.parts.pairs[f.next++];
        if (pair.second == nullptr) {
          // The ids are scalars: writing them opens no frame, so `f` stays where it is.
          represent_key(pair.first);
          represent_ids(f.parts.ids);
          continue;
        }
        char buf[yaml_detail::kScalarTextMax];
        if (standard_keys) {
          const std::string_view text = plain_text_of(*pair.second, buf);
          if (!text.empty() && emit_plain_pair(pair.first, text)) continue;
        }
        represent_key(pair.first);
        dispatch(*pair.second);
        continue;
      }
      emit_mapping_end();
      if (f.node != nullptr) --nodes_open_;
    }
    --open_;
  }
}

void YAMLDumper::represent_scalar(std::string_view tag, std::string_view value, ScalarStyle style) {
  emit_scalar(tag, value, style);
}

YAMLDumper::Frame& YAMLDumper::free_frame() {
  if (frames_.size() == open_) frames_.emplace_back();
  return frames_[open_];
}

YAMLDumper::MappingParts& YAMLDumper::mapping_parts() {
  MappingParts& parts = free_frame().parts;
  parts.pairs.clear();
  parts.values.clear();
  parts.fields.clear();
  parts.keys.clear();
  parts.ids.clear();
  return parts;
}

void YAMLDumper::represent_mapping(std::string_view tag, const Map& mapping) {
  MappingParts& parts = mapping_parts();
  parts.pairs.reserve(mapping.size());
  // Keys sort as the text a reader sees, so bytes that are not UTF-8 sort as U+FFFD.
  for (const auto& [key, value] : mapping) {
    if (utils::utf8::is_valid(key)) {
      parts.pairs.emplace_back(key, &value);
    } else {
      if (parts.keys.empty()) parts.keys.reserve(mapping.size());
      parts.pairs.emplace_back(parts.keys.emplace_back(utils::utf8::sanitized(key)), &value);
    }
  }
  std::stable_sort(parts.pairs.begin(), parts.pairs.end(),
                   [](const Pair& a, const Pair& b) { return a.first < b.first; });
  represent_parts(tag);
}

void YAMLDumper::represent_parts(std::string_view tag, const ReportObjectBase* node) {
  if (node != nullptr && ++nodes_open_ > max_depth)
    throw SerializationError("cannot write the document as YAML: " + node->repr() + " lies below " +
                             std::to_string(max_depth) + " report nodes, deeper than the limit");
  Frame& f = opening_frame();
  f.sequence = nullptr;
  f.next = 0;
  f.node = node;
  ++open_;
  emit_mapping_start(tag);
}

void YAMLDumper::represent_sequence(std::string_view tag, const List& sequence) {
  Frame& f = opening_frame();
  f.sequence = &sequence;
  f.next = 0;
  f.node = nullptr;
  ++open_;
  emit_sequence_start(tag);
}

YAMLDumper::Frame& YAMLDumper::opening_frame() {
  if (open_ == max_nesting) {
    std::string where;
    for (std::size_t i = open_; i-- > 0;) {
      if (frames_[i].node != nullptr) {
        where = " inside " + frames_[i].node->repr();
        break;
      }
    }
    throw SerializationError("cannot write the document as YAML: it nests collections deeper than " +
                             std::to_string(max_nesting) + " levels" + where);
  }
  return free_frame();
}

void YAMLDumper::represent_item(const Value& item) {
  char buf[yaml_detail::kScalarTextMax];
  const std::string_view text = plain_text_of(item, buf);
  if (text.empty() || !emit_plain_item(text)) dispatch(item);
}

// A sequence without a frame of its own: past max_nesting it is refused as a framed one is.
void YAMLDumper::represent_ids(const std::vector<const Value*>& ids) {
  if (open_ == max_nesting) opening_frame();
  emit_sequence_start(yaml_detail::kSeqTag);
  for (const Value* id : ids) represent_item(*id);
  emit_sequence_end();
}

bool YAMLDumper::is_standard_scalar(const Value& data) {
  const RepresenterTable& table = representers();
  const auto standard = [&table](YAMLType type, Representer r) {
    return table.exact[static_cast<std::size_t>(type)] == r;
  };
  switch (data.kind()) {
    case Kind::None: return standard(YAMLType::NoneType, yaml_detail::represent_none);
    case Kind::Bool: return standard(YAMLType::Bool, yaml_detail::represent_bool);
    case Kind::Int: return standard(YAMLType::Int, yaml_detail::represent_int);
    case Kind::Float: return standard(YAMLType::Float, float_representer);
    case Kind::Text: return standard(YAMLType::Str, str_representer);
    case Kind::DateTime: return standard(YAMLType::DateTime, yaml_detail::represent_datetime);
    default: return false;
  }
}

// Keys are texts; they go through the text representer like any other text, without first
// becoming a Value when that representer is the standard one.
void YAMLDumper::represent_key(std::string_view key) {
  const Representer text = representers().exact[static_cast<std::size_t>(YAMLType::Str)];
  if (text != str_representer)
    text(*this, Value(key));
  else if (!emit_plain_key(key))
    represent_str(key);
}

}  // namespace morvi::reporter::trialkit
