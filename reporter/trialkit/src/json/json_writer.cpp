// Writes Values as JSON text into one growing buffer. Report nodes, results, tallies, date-times
// and error objects are written as the replacements JSONDumper::default_ defines, in place,
// without building the replacement maps; everything else the hook cannot convert goes to the
// hook itself, which refuses it. Open containers are kept on an explicit stack rather than the
// machine's, so any depth is written on any thread.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "../nodes/id_chain.hpp"
#include "../nodes/node_layout.hpp"
#include "../text/datetime_text.hpp"
#include "results_json_text.hpp"
#include "morvi/utils/utf8.hpp"
#include "morvi/errors.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/utils/document_buffer.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/results.hpp"

namespace morvi::reporter::trialkit {
namespace {

using namespace std::string_view_literals;

// Bytes copied unchanged into a JSON string: printable ASCII except the quote and backslash.
constexpr std::array<bool, 256> kVerbatim = [] {
  std::array<bool, 256> t{};
  for (int c = 0x20; c < 0x7F; ++c) t[c] = c != '"' && c != '\\';
  return t;
}();

// The longest piece written without a new reservation: a \u escape pair or a number.
constexpr std::size_t kPiece = 32;

// What a writer with a file holds before handing it on: large enough that the writes are
// few, small enough that the document never sits in memory whole.
constexpr std::size_t kChunk = std::size_t{1} << 20;

class JsonWriter {
 public:
  // With a `sink`, the text goes there in chunks, each cut between two values. Arrays and
  // objects nested deeper than `max_levels` are refused.
  explicit JsonWriter(utils::AtomicFile* sink = nullptr,
                      std::size_t max_levels = std::numeric_limits<std::size_t>::max())
      : sink_(sink), max_levels_(max_levels) {
    open_.reserve(64);
  }
  std::string document() { return out_.take(); }
  void flush() {
    sink_->write(out_.view());
    out_.truncate(0);
  }

  // Writes `root` whole: each container is opened when met and its elements are written from
  // the stack.
  void write(const Value& root) {
    value(root);
    while (!open_.empty()) {
      if (sink_ != nullptr && out_.size() >= kChunk) flush();
      if (fill(open_.back())) continue;
      Frame& f = open_.back();
      switch (f.kind) {
        case Frame::Kind::List: close(']'); break;
        case Frame::Kind::Map:
        case Frame::Kind::Close: close('}'); break;
        case Frame::Kind::Node:
          // A node with nothing to write is refused as the hook refuses its empty replacement.
          if (f.first) refuse_empty(*f.node);
          close('}');
          --nodes_open_;
          break;
      }
      open_.pop_back();
    }
  }

 private:
  // An open container: a list or map with the index of its next element, a report node with
  // the index of its next field (the field being written held here, as a computed one lives
  // only in its FieldRef), or a closing brace still owed (a result after its data). Frames
  // point only at what lives outside the stack, so that the stack may move as it grows.
  struct Frame {
    enum class Kind : std::uint8_t { List, Map, Node, Close };
    Kind kind = Kind::Close;
    bool first = true;
    std::size_t next = 0;
    const List* list = nullptr;
    const Map* map = nullptr;
    const ReportObjectBase* node = nullptr;
    FieldRef field;
  };

  Frame& open(Frame::Kind kind) {
    Frame& f = open_.emplace_back();
    f.kind = kind;
    return f;
  }

  // Every array and object is opened and closed here, which keeps count of the levels open.
  void open_level(char bracket) {
    if (++levels_ > max_levels_) refuse_deep();
    out_.append(bracket);
  }
  void close(char bracket) {
    --levels_;
    out_.append(bracket);
  }

  // Names the innermost node open, where the nesting went too deep.
  [[noreturn]] void refuse_deep() const {
    std::string where;
    for (auto f = open_.rbegin(); f != open_.rend() && where.empty(); ++f)
      if (f->kind == Frame::Kind::Node) where = " inside " + f->node->repr();
    throw SerializationError("cannot write the document as JSON: arrays and objects nest deeper than " +
                             std::to_string(max_levels_) + " levels" + where);
  }

  // What the hook says of a node whose replacement map comes out empty.
  [[noreturn]] static void refuse_empty(const ReportObjectBase& node) {
    throw SerializationError("cannot write a value of kind 'node' (" + node.type_name() +
                             ") as JSON: its replacement is empty");
  }

  // Writes a scalar whole, or opens a container on the stack. `v` may lie in a frame's field:
  // it is read in full before a frame is opened, which may move the stack.
  void value(const Value& v) {
    switch (v.kind()) {
      case Kind::None: out_.append("null"sv); return;
      case Kind::Bool: out_.append(v.as_bool() ? "true"sv : "false"sv); return;
      case Kind::Int: integer(v.as_int()); return;
      case Kind::Float: real(v.as_number()); return;
      case Kind::Text: text(v.as_text()); return;
      case Kind::List:
      case Kind::Tuple: {
        const List* items = &v.as_list();
        if (all_flat(*items)) {
          flat_list(*items);
          return;
        }
        open_level('[');
        open(Frame::Kind::List).list = items;
        return;
      }
      case Kind::Map:
      case Kind::AttrMap: map(v.as_map()); return;
      case Kind::DateTime: datetime(v.as_datetime()); return;
      case Kind::Result: result(v.as_result()); return;
      case Kind::Tally: tally(v.as_tally()); return;
      case Kind::Node: {
        if (++nodes_open_ > JSONDumper::max_depth)
          throw SerializationError("cannot write the document as JSON: " + node_of(v).repr() +
                                   " lies below " + std::to_string(JSONDumper::max_depth) +
                                   " report nodes, deeper than the limit");
        const ReportObjectBase* node = &node_of(v);
        open_level('{');
        open(Frame::Kind::Node).node = node;
        return;
      }
      case Kind::Error: text(v.to_repr()); return;
      case Kind::Opaque: break;
    }
    value(JSONDumper::default_(v));
  }

  // Writes the elements of the top frame `f` that are left, until one opens a frame of its own
  // (true: `f` may have moved then) or none is left (false).
  bool fill(Frame& f) {
    const std::size_t depth = open_.size();
    switch (f.kind) {
      case Frame::Kind::List:
        while (f.next < f.list->size()) {
          if (f.next > 0) out_.append(", "sv);
          value((*f.list)[f.next++]);
          if (open_.size() > depth) return true;
        }
        return false;
      case Frame::Kind::Map:
        while (f.next < f.map->size()) {
          if (f.next > 0) out_.append(", "sv);
          const auto& [key, item] = *(f.map->begin() + static_cast<std::ptrdiff_t>(f.next++));
          member(key);
          value(item);
          if (open_.size() > depth) return true;
        }
        return false;
      case Frame::Kind::Node: return fill_fields(f);
      case Frame::Kind::Close: return false;
    }
    return false;
  }

  // The node's fields that are not VALUE_IGNORE values, as fill writes elements.
  bool fill_fields(Frame& f) {
    const std::size_t depth = open_.size();
    const ReportObjectBase& n = *f.node;
    const auto names = n.arg_order();
    while (f.next < names.size()) {
      const std::size_t position = f.next++;
      const std::string_view name = names[position];
      if (!n.listed_derived(position)) {
        const Value* stored = n.listed_stored(position);
        if (stored == nullptr || is_ignored(*stored)) continue;
        field_name(f, name);
        value(*stored);
        if (open_.size() > depth) return true;
        continue;
      }
      if ((name == "fullid"sv || name == "idlist"sv) && chained_ids(n)) {
        field_name(f, name);
        if (name == "fullid"sv)
          fullid();
        else
          idlist();
        continue;
      }
      FieldRef field = n.listed_field(position);
      if (is_ignored(*field)) continue;
      field_name(f, name);
      value(*field);
      if (open_.size() > depth) {
        // A computed field is kept while the container it opened is written.
        open_[depth - 1].field = std::move(field);
        return true;
      }
    }
    return false;
  }

  // The separator before each field but the first, and the field's name.
  void field_name(Frame& f, std::string_view name) {
    // Field names are plain identifiers: nothing in them needs escaping.
    out_.reserve(name.size() + 6);
    if (!f.first) out_.put(", "sv);
    f.first = false;
    out_.put('"');
    out_.put(name);
    out_.put("\": "sv);
  }

  // Gathers into `chain_` the ids of the node and its ancestors up to the one that starts its
  // full id, farthest first, when fullid and idlist can be written from them in place: the node
  // does not start the full id itself (its fullid is then its id, of whatever kind) and every id
  // is a scalar. Computing the two fields instead allocates a vector, a text and a list. The
  // ids are gathered once for both fields of a node.
  bool chained_ids(const ReportObjectBase& n) {
    if (&n == chain_of_) return true;
    chain_of_ = nullptr;
    if (starts_fullid(n)) return false;
    chain_.clear();
    for (const ReportObjectBase* p = &n;; p = p->parent()) {
      const Value& id = p->id();
      if (!is_flat(id)) return false;
      chain_.push_back(&id);
      if (starts_fullid(*p)) break;
    }
    std::reverse(chain_.begin(), chain_.end());
    chain_of_ = &n;
    reuse_written_ids();
    return true;
  }

  // Nodes are written depth first, so a node's chain mostly begins with the last one's: the
  // texts written for the ids the two share are kept and copied. A tally opens an object, whose
  // depth is checked only where it is written, so a chain with one is written whole.
  void reuse_written_ids() {
    std::size_t same = 0;
    while (same < chain_.size() && same < written_ids_.size() && chain_[same] == written_ids_[same]) ++same;
    for (const Value* id : chain_)
      if (id->kind() == Kind::Tally) same = 0;
    written_ids_ = chain_;
    const auto keep = [same](std::vector<std::size_t>& ends, std::string& text) {
      ends.resize(std::min(same, ends.size()));
      text.resize(ends.empty() ? 0 : ends.back());
    };
    keep(fullid_ends_, ids_);
    keep(idlist_ends_, idlist_);
  }

  // The ids of `chain_` as text, joined by dots, as ReportObjectBase::fullid makes it.
  void fullid() {
    for (std::size_t k = fullid_ends_.size(); k < chain_.size(); ++k) {
      if (k > 0) ids_ += '.';
      chain_[k]->append_text(ids_);
      fullid_ends_.push_back(ids_.size());
    }
    text(ids_);
  }

  void idlist() {
    open_level('[');
    out_.append(std::string_view(idlist_));
    for (std::size_t k = idlist_ends_.size(); k < chain_.size(); ++k) {
      const std::size_t begin = out_.size();
      if (k > 0) out_.append(", "sv);
      value(*chain_[k]);
      idlist_ += out_.view().substr(begin);
      idlist_ends_.push_back(idlist_.size());
    }
    close(']');
  }

  void member(std::string_view key) {
    text(key);
    out_.append(": "sv);
  }

  void integer(std::int64_t i) {
    char buf[24];
    out_.append(std::string_view(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, i).ptr - buf)));
  }

  void real(double x) {
    if (std::isnan(x)) {
      out_.append("NaN"sv);
    } else if (std::isinf(x)) {
      out_.append(x < 0 ? "-Infinity"sv : "Infinity"sv);
    } else {
      char buf[kFloatReprMax];
      out_.append(std::string_view(buf, static_cast<std::size_t>(write_float_repr(buf, x) - buf)));
    }
  }

  void datetime(const DateTime& d) {
    char buf[text::kDateTimeTextMax + 2];
    buf[0] = '"';
    char* end = dates_.write(buf + 1, d);
    *end++ = '"';
    out_.append(std::string_view(buf, static_cast<std::size_t>(end - buf)));
  }

  // Most texts need no escape: they are copied here, where the call is cheap, and the others
  // are written out of line.
  [[gnu::always_inline]] void text(std::string_view s) {
    const std::size_t first = verbatim_run(s, 0);
    if (first < s.size()) {
      escaped_text(s, first);
      return;
    }
    out_.reserve(s.size() + 2);
    out_.put('"');
    out_.put(s);
    out_.put('"');
  }

  // A text with a byte to escape at `first`.
  [[gnu::noinline]] void escaped_text(std::string_view s, std::size_t first) {
    out_.reserve(s.size() + 2);
    out_.put('"');
    std::size_t run = 0;
    for (std::size_t i = first; i < s.size();) {
      i = verbatim_run(s, i);
      if (i == s.size()) break;
      const auto c = static_cast<unsigned char>(s[i]);
      out_.put(s.substr(run, i - run));
      // An escape replaces at most four bytes with twelve.
      out_.reserve(kPiece + s.size() - i);
      if (c < 0x80) {
        escape_ascii(c);
        ++i;
      } else {
        const utils::utf8::CodePoint cp = utils::utf8::decode(s, i);
        if (cp.value >= 0x10000) {
          const char32_t v = cp.value - 0x10000;
          escape_unit(0xD800 + (v >> 10));
          escape_unit(0xDC00 + (v & 0x3FF));
        } else {
          escape_unit(cp.value);
        }
        i += cp.size;
      }
      run = i;
    }
    out_.put(s.substr(run));
    out_.put('"');
  }

  // Bytes of `w` that stop a run of verbatim bytes (below 0x20 or from 0x7F up, quotes and
  // backslashes) have their high bit set; so may bytes above one that does, never below it.
  static std::uint64_t stopping_bytes(std::uint64_t w) noexcept {
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHighs = 0x8080808080808080;
    const auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    return has_zero(w & ~(kOnes * 0x1F)) | ((w + kOnes) & kHighs) | (w & kHighs) |
           has_zero(w ^ (kOnes * '"')) | has_zero(w ^ (kOnes * '\\'));
  }

  template <class Word>
  static Word load(const char* p) noexcept {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
  }

  // The end of the run of verbatim bytes from s[i], eight bytes at a time. Most texts are all
  // verbatim: the last bytes, fewer than eight, are checked in one word that overlaps the ones
  // before (two halves that overlap, in a text of four to seven bytes), and only a text with a
  // byte to escape is walked byte by byte to it.
  static std::size_t verbatim_run(std::string_view s, std::size_t i) {
    const char* const end = s.data() + s.size();
    for (; i + 8 <= s.size(); i += 8)
      if (stopping_bytes(load<std::uint64_t>(s.data() + i))) break;
    if (i + 8 > s.size()) {
      if (s.size() >= 8) {
        if (!stopping_bytes(load<std::uint64_t>(end - 8))) return s.size();
      } else if (s.size() - i >= 4) {
        const std::uint64_t halves = load<std::uint32_t>(s.data() + i) |
                                     std::uint64_t{load<std::uint32_t>(end - 4)} << 32;
        if (!stopping_bytes(halves)) return s.size();
      }
    }
    while (i < s.size() && kVerbatim[static_cast<unsigned char>(s[i])]) ++i;
    return i;
  }

  void escape_ascii(unsigned char c) {
    switch (c) {
      case '"': out_.put("\\\""sv); return;
      case '\\': out_.put("\\\\"sv); return;
      case '\b': out_.put("\\b"sv); return;
      case '\f': out_.put("\\f"sv); return;
      case '\n': out_.put("\\n"sv); return;
      case '\r': out_.put("\\r"sv); return;
      case '\t': out_.put("\\t"sv); return;
      default: escape_unit(c); return;
    }
  }

  void escape_unit(char32_t unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char esc[6] = {'\\', 'u', kHex[(unit >> 12) & 0xF], kHex[(unit >> 8) & 0xF],
                         kHex[(unit >> 4) & 0xF], kHex[unit & 0xF]};
    out_.put(std::string_view(esc, sizeof esc));
  }

  void map(const Map& m) {
    bool flat = true;
    for (const auto& entry : m) flat = flat && is_flat(entry.second);
    open_level('{');
    if (!flat) {
      open(Frame::Kind::Map).map = &m;
      return;
    }
    bool first = true;
    for (const auto& [key, item] : m) {
      if (!first) out_.append(", "sv);
      first = false;
      member(key);
      value(item);
    }
    close('}');
  }

  // Values written whole by value(), without a frame of their own.
  static bool is_flat(const Value& v) noexcept {
    switch (v.kind()) {
      case Kind::List:
      case Kind::Tuple:
      case Kind::Map:
      case Kind::AttrMap:
      case Kind::Result:
      case Kind::Node:
      case Kind::Opaque: return false;
      default: return true;
    }
  }

  static bool all_flat(const List& items) noexcept {
    for (const Value& item : items)
      if (!is_flat(item)) return false;
    return true;
  }

  // A list of flat values, common for ids and details, written without a frame.
  void flat_list(const List& items) {
    open_level('[');
    bool first = true;
    for (const Value& item : items) {
      if (!first) out_.append(", "sv);
      first = false;
      value(item);
    }
    close(']');
  }

  void result(const results::TestResult& r) {
    open_level('{');
    out_.append("\"value\": "sv);
    text(r.value());
    if (!r.reason().empty()) {
      out_.append(", \"reason\": "sv);
      text(r.reason());
    }
    if (r.data().empty()) {
      close('}');
      return;
    }
    out_.append(", \"data\": "sv);
    open(Frame::Kind::Close);
    map(r.data());
  }

  void tally(const results::ResultCounter& c) {
    open_level('{');
    c.for_each([this](std::string_view key, std::int64_t count) {
      member(key);
      integer(count);
      out_.append(", "sv);
    });
    out_.append("\"total\": "sv);
    integer(c.total());
    out_.append(", \"success_rate\": "sv);
    real(c.success_rate());
    close('}');
  }

  utils::AtomicFile* sink_;
  utils::DocumentBuffer out_;
  std::vector<Frame> open_;
  const std::size_t max_levels_;
  std::size_t levels_ = 0;      // arrays and objects open
  std::size_t nodes_open_ = 0;  // node frames on the stack
  text::DateTimeWriter dates_;
  std::vector<const Value*> chain_;          // see chained_ids
  const ReportObjectBase* chain_of_ = nullptr;  // the node whose ids `chain_` holds
  // The chain whose ids were last written, and where the text of each of its ids ends in the
  // fullid and idlist texts written so far for it (see reuse_written_ids).
  std::vector<const Value*> written_ids_;
  std::vector<std::size_t> fullid_ends_;
  std::vector<std::size_t> idlist_ends_;
  std::string ids_;     // a fullid on its way into the document
  std::string idlist_;  // the idlist's elements as written, without its brackets
};

void write_file(const Value& value, const std::string& path, std::size_t max_levels) {
  utils::AtomicFile file(path);
  JsonWriter writer(&file, max_levels);
  writer.write(value);
  writer.flush();
  file.commit();
}

}  // namespace

std::string JSONDumper::encode(const Value& value) {
  JsonWriter writer;
  writer.write(value);
  return writer.document();
}

void JSONDumper::encode_file(const Value& value, const std::string& path) {
  write_file(value, path, std::numeric_limits<std::size_t>::max());
}

std::string encode_results(const Value& document) {
  JsonWriter writer(nullptr, JSONDumper::max_nesting);
  writer.write(document);
  return writer.document();
}

void encode_results_file(const Value& document, const std::string& path) {
  write_file(document, path, JSONDumper::max_nesting);
}

}  // namespace morvi::reporter::trialkit
