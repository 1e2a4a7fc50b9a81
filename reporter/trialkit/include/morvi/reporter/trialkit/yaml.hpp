#pragma once
// The results document as YAML text, written exactly as the YAML library's safe dumper writes
// it with block style: indentation 2, line width 80 with long scalars folded onto continuation
// lines, no document markers, characters outside ASCII escaped in double quotes, map keys
// sorted, no anchors or aliases, quoting chosen by whether the plain text would read back as
// the same value under YAML 1.1 implicit resolution, and an explicit tag where a scalar's text
// does not read back as its kind (!!float '1e+16').
//
// Written here because no C or C++ library produces that form: libyaml puts a sequence under a
// mapping key in the key's column, and yaml-cpp neither folds long scalars nor chooses quoting
// by implicit resolution.
//
// Two layers. YAMLEmitter turns node events (scalars, starts and ends of mappings and
// sequences) into text, choosing each scalar's style and line breaks as it goes; nothing is
// buffered but the output. YAMLDumper turns Values into those events through a table of
// representers, one per type of value.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/document_buffer.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::trialkit {

namespace yaml_detail {
struct ScalarAnalysis;
}

// The style a representer asks for; the emitter falls back to another one where the asked
// style cannot hold the text.
enum class ScalarStyle : char { Any = 0, Literal = '|', SingleQuoted = '\'', DoubleQuoted = '"' };

class YAMLEmitter {
 public:
  static constexpr int best_indent = 2;
  static constexpr long best_width = 80;

  virtual ~YAMLEmitter() = default;
  YAMLEmitter(const YAMLEmitter&) = delete;
  YAMLEmitter& operator=(const YAMLEmitter&) = delete;

 protected:
  YAMLEmitter() = default;
  // The document written so far, taken out of the emitter.
  std::string document() { return out_.take(); }
  // With a sink, the text goes there in pieces: hand_out() passes on a full piece, and
  // flush() what is left at the end.
  void set_sink(utils::AtomicFile* sink) noexcept { sink_ = sink; }
  void hand_out() {
    if (sink_ != nullptr && out_.size() >= kSinkPiece) flush();
  }
  void flush();

  // Events in document order: the root node, then emit_document_end. A mapping's nodes
  // alternate key and value, and its keys are scalars. Tags are full ("tag:yaml.org,2002:str").
  void emit_scalar(std::string_view tag, std::string_view value, ScalarStyle style);
  // A scalar whose text plain style holds and that reads back as `tag` when plain (a number, a
  // truth value, none, a date-time): written as emit_scalar would write it, without analysis.
  void emit_plain_scalar(std::string_view tag, std::string_view text);
  // A mapping key tagged str that is one word reading back as a text, written as emit_scalar
  // would write it; false, with nothing written, for any other key.
  bool emit_plain_key(std::string_view key);
  // emit_plain_key(key) then emit_plain_scalar of `text` (not empty) tagged as it reads back,
  // as one line written in one piece: most lines of a report are such pairs. False, with
  // nothing written, for a key emit_plain_key refuses or a text that would fold at the width.
  bool emit_plain_pair(std::string_view key, std::string_view text);
  // A sequence item written plain as emit_plain_scalar writes it, "- " and `text` (not empty)
  // on a line of its own, in one piece. False, with nothing written, where no item is due or
  // the text would fold at the width.
  bool emit_plain_item(std::string_view text);
  void emit_mapping_start(std::string_view tag);
  void emit_mapping_end();
  void emit_sequence_start(std::string_view tag);
  void emit_sequence_end();
  void emit_document_end();

  // Opens the next indentation level: for a scalar (`flow`), a block mapping, or a block
  // sequence (`indentless` when it is a mapping value that would start in its key's column).
  virtual void increase_indent(bool flow = false, bool indentless = false);

 private:
  enum class Phase : std::uint8_t { Item, Key, SimpleValue, ComplexValue };
  enum class Pending : std::uint8_t { None, Mapping, Sequence };

  void open_pending_block();
  // The rest of the line at the current indentation, `lead`, `separator` and the plain `text`,
  // in one piece, for emit_plain_pair and emit_plain_item; false, with nothing written, when
  // the text would fold at the width.
  bool put_plain_line(std::string_view lead, std::string_view separator, std::string_view text,
                      bool in_mapping);
  bool is_known_plain_key(std::string_view key);
  void enter_node(const yaml_detail::ScalarAnalysis* key, std::string_view tag);
  void collection_start(Pending kind, std::string_view tag);
  void collection_end(Pending kind);
  void pop_indent();
  // Sets the indentation of a scalar's continuation lines; returns the one to restore.
  int enter_scalar_indent();

  void write_indicator(std::string_view indicator, bool need_whitespace, bool whitespace = false,
                       bool indention = false);
  void write_indent();
  void write_line_break();
  void write_raw(std::string_view text);
  void write_tag(std::string_view tag);
  void write_plain(std::string_view text, bool split);
  void write_single_quoted(std::string_view text, bool split);
  void write_double_quoted(std::string_view text, bool split);
  void write_literal(std::string_view text);

  // What an emitter with a sink holds before handing it on: large enough that the writes are
  // few, small enough that the document never sits in memory whole.
  static constexpr std::size_t kSinkPiece = std::size_t{1} << 20;

  utils::DocumentBuffer out_;
  utils::AtomicFile* sink_ = nullptr;
  std::vector<Phase> frames_;       // one per open block collection
  std::vector<int> indents_;
  int indent_ = -1;                 // -1: no indentation level yet
  long column_ = 0;
  bool whitespace_ = true;          // the last character written is white space
  bool indention_ = true;           // the line so far is indentation and indicators only
  bool open_ended_ = false;         // the document needs an end marker
  bool root_context_ = false;
  bool mapping_context_ = false;
  bool simple_key_context_ = false;
  // A collection whose first event has not arrived: empty ones are written as [] and {}.
  Pending pending_ = Pending::None;
  bool pending_indentless_ = false;
  // Keys found to be plain, by where their text lives: most keys are the field names of the
  // node kinds and the names of a tally's counts, the same few texts in static storage. An
  // entry keeps a copy of its text, so a key at a reused address is checked anew.
  struct PlainKey {
    const char* data = nullptr;
    std::size_t size = 0;
    char text[24];
  };
  std::array<PlainKey, 128> plain_keys_{};
  std::u32string wide_;             // code points of the scalar being double-quoted
};

// The types a representer is registered for: each kind of value, each kind of report node,
// error objects, other objects, and types themselves.
enum class YAMLType : std::uint8_t {
  NoneType, Bool, Int, Float, Str, List, Tuple, Dict, AttrDict, DateTime, TestResult,
  ResultCounter, ReportObjectBase, TrialKit, Task, Plugin, Section, Error, Object, Type,
};
inline constexpr std::size_t kYAMLTypeCount = static_cast<std::size_t>(YAMLType::Type) + 1;

// A type as a value: what unknown_representer writes under "type".
class TypeObject : public Object {
 public:
  explicit TypeObject(std::string name) : name_(std::move(name)) {}
  // The name of the type of `data` ("int", "Task", an error's kind, an object's class).
  static std::string name_of(const Value& data);
  std::string type_name() const override { return "type"; }
  std::string repr() const override { return "<class '" + name_ + "'>"; }

 private:
  std::string name_;
};

class YAMLDumper : public YAMLEmitter {
 public:
  using Representer = void (*)(YAMLDumper& dumper, const Value& data);
  // An ordered (key, value) pair of a mapping.
  using Pair = std::pair<std::string_view, const Value*>;

  // Block YAML indents every level, so its text grows with the square of the nesting, and
  // with the cube for report nodes (each lists the ids above it, one per line): a chain of 500
  // sections is about 170 MB, one of 2000 would be 10 GB. So report nodes nested deeper than
  // max_depth, and collections of any kind nested deeper than max_nesting (25 MB of
  // indentation for nested maps), are refused with a SerializationError naming the node.
  static constexpr std::size_t max_depth = 500;
  static constexpr std::size_t max_nesting = 5000;

  // `data` as one YAML document. Throws SerializationError past either limit; nothing is
  // returned then.
  static std::string dump(const Value& data);
  // dump(data) written to the file `path` as it is made, never whole in memory, through a
  // utils::AtomicFile: into a temporary file of its own beside `path`, synced and renamed over
  // it once complete, the folder synced after. On any failure (the refusals of dump, or
  // std::system_error for the file, a full disk among them) the temporary file is removed and
  // `path` is as it was.
  static void dump_file(const Value& data, const std::string& path);
  // The results document of `node`'s subtree (as ReportObjectBase::dump_yaml returns it)
  // written by dump_file.
  static void write_results(const ReportObjectBase& node, const std::string& path);

  // Registers `representer` for values of exactly `type`, replacing an earlier entry; no type
  // registers the fallback for every type without an entry of its own.
  static void add_representer(std::optional<YAMLType> type, Representer representer);
  // The entry for `type` (null where it has none), or the fallback for no type.
  static Representer representer(std::optional<YAMLType> type);
  static YAMLType type_of(const Value& data);

  // A block sequence under a mapping key is indented under the key, never in its column.
  void increase_indent(bool flow = false, bool indentless = false) override;
  // Always true: the dumper keeps no record of what it has written, so a value reachable
  // twice is written out in full both times.
  static constexpr bool ignore_aliases(const Value&) { return true; }

  // Room for the mapping a representer puts together: its pairs, and the values, fields and
  // keys they point to that the document does not hold itself. Kept until the mapping is
  // written; each vector is reserved in full before anything points into it. A pair without
  // a value stands for the sequence of the values `ids` points to, scalars each (a node's
  // idlist written from its ancestors' ids where they are).
  struct MappingParts {
    std::vector<Pair> pairs;
    std::vector<Value> values;
    std::vector<FieldRef> fields;
    std::vector<std::string> keys;
    std::vector<const Value*> ids;
  };

  // Writes `data`: a scalar at once, the elements of a collection one at a time from the
  // dumper's own stack, so that nesting costs no depth of the caller's stack.
  void represent_data(const Value& data);
  void represent_scalar(std::string_view tag, std::string_view value,
                        ScalarStyle style = ScalarStyle::Any);
  // A scalar whose text plain style holds and that reads back as `tag` when plain.
  void represent_plain_scalar(std::string_view tag, std::string_view text) { emit_plain_scalar(tag, text); }
  // A mapping from a map of the document, keys sorted by code point.
  void represent_mapping(std::string_view tag, const Map& mapping);
  // The empty parts of the next mapping, to be filled and then represented.
  MappingParts& mapping_parts();
  // A mapping from the pairs of mapping_parts(), kept in their order; `node` is the report
  // node it writes, counted against max_depth.
  void represent_parts(std::string_view tag, const ReportObjectBase* node = nullptr);
  // A sequence from a list of the document.
  void represent_sequence(std::string_view tag, const List& sequence);
  // A text as str_representer represents it.
  void represent_str(std::string_view text);
  // True for a scalar (none, truth value, number, text, date-time) whose kind has its
  // standard representer: one that writes a single scalar and opens no collection.
  static bool is_standard_scalar(const Value& data);

 private:
  // An open collection: a sequence's items or a mapping's parts, and the next to write.
  struct Frame {
    const List* sequence = nullptr;  // null for a mapping
    std::size_t next = 0;
    const ReportObjectBase* node = nullptr;  // the report node a mapping writes
    MappingParts parts;
  };

  YAMLDumper() = default;
  void dispatch(const Value& data);
  void represent_key(std::string_view key);
  // An item written plain when the standard representer of its kind would write it so.
  void represent_item(const Value& item);
  void represent_ids(const std::vector<const Value*>& ids);
  Frame& free_frame();
  // The frame for a collection about to open; SerializationError past max_nesting.
  Frame& opening_frame();

  // Open frames first, then spare ones kept for their vectors' room: a report has hundreds of
  // thousands of nodes, each gathering its pairs while its mapping is written.
  std::vector<Frame> frames_;
  std::size_t open_ = 0;
  std::size_t nodes_open_ = 0;
  std::string stripped_;  // a multi-line text with its lines' trailing white space removed
};

// The representers this module registers on YAMLDumper.
void str_representer(YAMLDumper& dumper, const Value& data);
void float_representer(YAMLDumper& dumper, const Value& data);
void type_representer(YAMLDumper& dumper, const Value& data);
void unknown_representer(YAMLDumper& dumper, const Value& data);
void ResultCounter_representer(YAMLDumper& dumper, const Value& data);
void TestResult_representer(YAMLDumper& dumper, const Value& data);
void AttrDict_representer(YAMLDumper& dumper, const Value& data);
// The representer of the four report node kinds: the node's ARG_ORDER fields that are not
// VALUE_IGNORE values, in that order.
void to_yaml(YAMLDumper& dumper, const Value& data);

}  // namespace morvi::reporter::trialkit
#pragma GCC visibility pop
