#include "pretty_print.hpp"

#include <libxml/parser.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::reporter::markfolio {
namespace {

// XML_PARSE_NOENT makes the parser hand over attribute values fully decoded (without it, an
// ampersand arrives as "&#38;"). No entity beyond the predefined ones can exist: a DTD stops
// the parser before its declarations are read.
constexpr int kParseOptions = XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOENT |
                              XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// Bytes handed to the push parser at a time: small enough that its input buffer stays small,
// and no 2 GiB cap as with the in-memory reader's int length.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// Room made before each start tag; longer texts and attribute values make room for themselves.
constexpr std::size_t kElementRoom = 4096;
// The indented text goes to the sink in pieces of about this size.
constexpr std::size_t kPiece = std::size_t{1} << 20;

std::string_view view(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

// Writes the indented text from a document's events, whoever reads the document.
class Indenter {
 public:
  Indenter(std::string_view indent, const TextSink& sink) : indent_(indent), sink_(sink) {
    out_.reserve(kPiece + kElementRoom);
    out_.append("<?xml version=\"1.0\"?>\n");
  }

  // Hands the rest of the text to the sink.
  void finish() {
    sink_.write(out_.view());
    out_.truncate(0);
  }
  utils::DocumentBuffer& out() { return out_; }
  std::size_t depth() const { return open_.size(); }

  // Writes "<name"; the attributes follow through out(), then end_start_tag().
  void begin_start_tag(std::string_view name) {
    out_.reserve(kElementRoom + open_.size() * indent_.size());
    inside_text_ = !open_.empty() && open_.back().holds_text;
    close_start_tag();
    if (!inside_text_) indent(open_.size());
    out_.append('<');
    out_.append(name);
  }

  void end_start_tag() {
    open_.push_back({inside_text_, false});
    start_tag_open_ = true;
  }

  void end_tag(std::string_view name) {
    const Open done = open_.back();
    open_.pop_back();
    if (start_tag_open_) {
      out_.append("/>");
      start_tag_open_ = false;
    } else {
      if (!done.holds_text) indent(open_.size());
      out_.append("</");
      out_.append(name);
      out_.append('>');
    }
    if (!done.inside_text) out_.append('\n');
    if (out_.size() >= kPiece) finish();
  }

  // Readies the output for a piece of text, which the caller then appends. False when the
  // text cannot be indented (it follows child elements); true with nothing to write for the
  // white space around the root element, which is dropped.
  bool begin_text(bool& write) {
    write = false;
    if (open_.empty()) return true;
    Open& parent = open_.back();
    if (start_tag_open_) {
      parent.holds_text = true;
    } else if (!parent.holds_text) {
      return false;
    }
    close_start_tag();
    write = true;
    return true;
  }

 private:
  struct Open {
    bool inside_text;  // the element sits in text-bearing content: no line breaks around it
    bool holds_text;   // its content is written on one line, unchanged
  };

  // Ends a pending start tag once the element turns out to have content.
  void close_start_tag() {
    if (!start_tag_open_) return;
    out_.append('>');
    if (!open_.back().holds_text) out_.append('\n');
    start_tag_open_ = false;
  }

  void indent(std::size_t depth) {
    const std::size_t width = depth * indent_.size();
    while (indents_.size() < width) indents_.append(indent_);
    out_.append(std::string_view(indents_).substr(0, width));
  }

  std::string_view indent_;
  const TextSink& sink_;
  std::string indents_;
  utils::DocumentBuffer out_;
  std::vector<Open> open_;
  bool start_tag_open_ = false;
  bool inside_text_ = false;
};

// Indents a document from libxml2's SAX2 events. Callbacks never throw through libxml2: a
// refusal is recorded and the parser stopped.
class Printer {
 public:
  Printer(std::string_view indent, const TextSink& sink) : indenter(indent, sink) {}

  Indenter indenter;
  xmlParserCtxt* ctxt = nullptr;
  std::string refusal;

  static void start(void* self, const xmlChar* name, const xmlChar* prefix, const xmlChar*,
                    int namespaces, const xmlChar**, int attribute_count, int,
                    const xmlChar** attributes) {
    auto& p = *static_cast<Printer*>(self);
    if (prefix != nullptr || namespaces > 0) return p.refuse("namespaces");
    p.indenter.begin_start_tag(view(name));
    utils::DocumentBuffer& out = p.indenter.out();
    for (int i = 0; i < attribute_count; ++i) {
      const xmlChar* const* a = attributes + 5 * i;
      if (a[1] != nullptr) return p.refuse("namespaces");
      out.append(' ');
      out.append(view(a[0]));
      out.append("=\"");
      zorbel::xml::append_escaped_attribute(
          out, std::string_view(reinterpret_cast<const char*>(a[3]),
                                static_cast<std::size_t>(a[4] - a[3])));
      out.append('"');
    }
    p.indenter.end_start_tag();
  }

  static void end(void* self, const xmlChar* name, const xmlChar*, const xmlChar*) {
    static_cast<Printer*>(self)->indenter.end_tag(view(name));
  }

  static void text(void* self, const xmlChar* chars, int length) {
    auto& p = *static_cast<Printer*>(self);
    bool write = false;
    if (!p.indenter.begin_text(write)) return p.refuse("text after child elements");
    if (!write) return;
    zorbel::xml::append_escaped_text(
        p.indenter.out(), std::string_view(reinterpret_cast<const char*>(chars),
                                           static_cast<std::size_t>(length)));
  }

  static void comment(void* self, const xmlChar*) {
    static_cast<Printer*>(self)->refuse("comments");
  }
  static void instruction(void* self, const xmlChar*, const xmlChar*) {
    static_cast<Printer*>(self)->refuse("processing instructions");
  }
  static void dtd(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    static_cast<Printer*>(self)->refuse("a DTD");
  }

 private:
  void refuse(const char* what) {
    if (refusal.empty()) refusal = std::string("cannot indent a document holding ") + what;
    xmlStopParser(ctxt);
  }
};

struct ContextFree {
  void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

void libxml2_pretty_print_to(std::string_view bytes, std::string_view indent,
                             std::string_view what, const TextSink& sink) {
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = &Printer::start;
  sax.endElementNs = &Printer::end;
  sax.characters = &Printer::text;
  sax.cdataBlock = &Printer::text;
  sax.ignorableWhitespace = &Printer::text;
  sax.comment = &Printer::comment;
  sax.processingInstruction = &Printer::instruction;
  sax.internalSubset = &Printer::dtd;

  Printer printer(indent, sink);
  std::unique_ptr<xmlParserCtxt, ContextFree> ctxt(
      xmlCreatePushParserCtxt(&sax, &printer, nullptr, 0, nullptr));
  if (!ctxt) throw std::bad_alloc();
  printer.ctxt = ctxt.get();
  xmlCtxtUseOptions(ctxt.get(), kParseOptions);
  std::size_t done = 0;
  int status = 0;
  while (status == 0 && printer.refusal.empty()) {
    const std::size_t n = std::min(bytes.size() - done, kChunk);
    const bool last = done + n == bytes.size();
    status = xmlParseChunk(ctxt.get(), bytes.data() + done, static_cast<int>(n), last ? 1 : 0);
    done += n;
    if (last) break;
  }
  if (!printer.refusal.empty()) throw SerializationError(printer.refusal);
  if (status != 0 || !ctxt->wellFormed) {
    const xmlError* error = xmlCtxtGetLastError(ctxt.get());
    std::string message = error && error->message ? error->message : "not well-formed";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    const std::size_t line = error ? static_cast<std::size_t>(std::max(error->line, 0)) : 0;
    const std::size_t column = error ? static_cast<std::size_t>(std::max(error->int2, 0)) : 0;
    throw ParseError("cannot parse the " + std::string(what) + " XML at line " +
                         std::to_string(line) + ", column " + std::to_string(column) + ": " +
                         message,
                     line, column);
  }
  printer.indenter.finish();
}

// What a byte means to the quick reader inside text and attribute values.
enum Byte : unsigned char {
  kPlain,      // copied as it is
  kReference,  // '&'
  kMultibyte,  // the lead byte of a UTF-8 sequence, checked whole
  kStop,       // ends the run: '<' or the closing quote
  kOther,      // anything whose indented form might differ, or that might be malformed
};

struct ByteTable {
  std::array<Byte, 256> text{};
  std::array<Byte, 256> attribute{};
  constexpr ByteTable() {
    for (int b = 0; b < 256; ++b) {
      Byte kind = kPlain;
      if (b < 0x20) kind = kOther;
      if (b >= 0x80) kind = (b >= 0xC2 && b <= 0xF4) ? kMultibyte : kOther;
      text[b] = attribute[b] = kind;
    }
    // Tab and line feed stay as they are in text; in attribute values parsers turn them
    // into spaces.
    text['\t'] = text['\n'] = kPlain;
    // A '>' would come back as "&gt;", and "]]>" is not allowed in text.
    text['>'] = attribute['>'] = kOther;
    text['&'] = attribute['&'] = kReference;
    text['<'] = kStop;
    attribute['<'] = kOther;
    attribute['"'] = kStop;
  }
};
constexpr ByteTable kBytes;

// Length of the UTF-8 sequence at `p` when it encodes an XML character, else 0.
std::size_t xml_char_length(const unsigned char* p, const unsigned char* end) {
  const auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  const std::size_t left = static_cast<std::size_t>(end - p);
  const unsigned char b = p[0];
  if (b <= 0xDF) return left >= 2 && cont(p[1]) ? 2 : 0;
  if (b <= 0xEF) {
    if (left < 3 || !cont(p[1]) || !cont(p[2])) return 0;
    if (b == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (b == 0xED && p[1] > 0x9F) return 0;  // surrogates
    if (b == 0xEF && p[1] == 0xBF && p[2] >= 0xBE) return 0;  // U+FFFE, U+FFFF
    return 3;
  }
  if (left < 4 || !cont(p[1]) || !cont(p[2]) || !cont(p[3])) return 0;
  if (b == 0xF0 && p[1] < 0x90) return 0;  // overlong
  if (b == 0xF4 && p[1] > 0x8F) return 0;  // beyond U+10FFFF
  return 4;
}

// The references whose decoded character the indenter writes back as the same reference.
std::size_t reference_length(std::string_view rest, bool attribute) {
  for (std::string_view ref : {"&amp;", "&lt;", "&gt;", "&#13;"}) {
    if (rest.starts_with(ref)) return ref.size();
  }
  if (attribute) {
    for (std::string_view ref : {"&quot;", "&#10;", "&#9;"}) {
      if (rest.starts_with(ref)) return ref.size();
    }
  }
  return 0;
}

bool name_start(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool name_char(unsigned char c) {
  return name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Longest name, and longest text or attribute value, the quick reader takes: libxml2 limits
// both, and whatever comes near a limit is left to it.
constexpr std::size_t kMaxName = 1000;
constexpr std::size_t kMaxRun = std::size_t{100} << 20;

// Reads the plain form the compact writer produces, with a quick check of every byte, and
// indents it. Anything outside that form (other references, other white space in tags,
// comments, names with colons or beyond ASCII, a '>' or carriage return in text, anything
// malformed) makes it give up: nullopt, and libxml2 reads the document instead, so every
// verdict and every message stays libxml2's. A document it takes is one libxml2 reads as
// well-formed into the same events, and whose indented form holds every text and attribute
// value as written.
class QuickReader {
 public:
  QuickReader(std::string_view bytes, std::string_view indent, const TextSink& sink)
      : p_(bytes.data()), end_(bytes.data() + bytes.size()), indenter_(indent, sink) {}

  // False when the document is left to libxml2; the sink may have had part of the text then.
  bool run() {
    constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (rest().starts_with(kDeclaration)) p_ += kDeclaration.size();
    skip_space();
    if (!element()) return false;
    skip_space();
    if (p_ != end_) return false;
    indenter_.finish();
    return true;
  }

 private:
  std::string_view rest() const { return {p_, static_cast<std::size_t>(end_ - p_)}; }
  bool at(char c) const { return p_ != end_ && *p_ == c; }

  void skip_space() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  std::string_view name() {
    const char* begin = p_;
    if (p_ == end_ || !name_start(static_cast<unsigned char>(*p_))) return {};
    ++p_;
    while (p_ != end_ && name_char(static_cast<unsigned char>(*p_))) ++p_;
    const std::string_view found(begin, static_cast<std::size_t>(p_ - begin));
    // Names from "xml" on are reserved, "xmlns" declares namespaces: left to libxml2.
    const bool reserved = found.size() >= 3 && (found[0] | 0x20) == 'x' &&
                          (found[1] | 0x20) == 'm' && (found[2] | 0x20) == 'l';
    return found.size() > kMaxName || reserved ? std::string_view() : found;
  }

  // Checks a run of text or of an attribute value up to its stop byte and copies it.
  bool run_of(const std::array<Byte, 256>& table, bool attribute) {
    const char* begin = p_;
    while (p_ != end_) {
      const Byte kind = table[static_cast<unsigned char>(*p_)];
      if (kind == kPlain) {
        ++p_;
      } else if (kind == kStop) {
        break;
      } else if (kind == kReference) {
        const std::size_t n = reference_length(rest(), attribute);
        if (n == 0) return false;
        p_ += n;
      } else if (kind == kMultibyte) {
        const std::size_t n = xml_char_length(reinterpret_cast<const unsigned char*>(p_),
                                               reinterpret_cast<const unsigned char*>(end_));
        if (n == 0) return false;
        p_ += n;
      } else {
        return false;
      }
    }
    if (p_ == end_ || static_cast<std::size_t>(p_ - begin) > kMaxRun) return false;
    indenter_.out().append(std::string_view(begin, static_cast<std::size_t>(p_ - begin)));
    return true;
  }

  // The start tag after its '<': the name and ` name="value"` attributes, then '>' or "/>".
  bool start_tag(bool& empty) {
    const std::string_view tag = name();
    if (tag.empty() || indenter_.depth() >= static_cast<std::size_t>(zorbel::xml::kMaxDepth)) {
      return false;
    }
    indenter_.begin_start_tag(tag);
    utils::DocumentBuffer& out = indenter_.out();
    attributes_.clear();
    while (at(' ')) {
      ++p_;
      const std::string_view key = name();
      if (key.empty() || !rest().starts_with("=\"")) return false;
      if (std::find(attributes_.begin(), attributes_.end(), key) != attributes_.end()) {
        return false;
      }
      if (attributes_.size() == kMaxAttributes) return false;
      attributes_.push_back(key);
      p_ += 2;
      out.append(' ');
      out.append(key);
      out.append("=\"");
      if (!run_of(kBytes.attribute, true)) return false;
      ++p_;
      out.append('"');
    }
    indenter_.end_start_tag();
    stack_.push_back(tag);
    empty = rest().starts_with("/>");
    if (empty) {
      p_ += 2;
      return true;
    }
    if (!at('>')) return false;
    ++p_;
    return true;
  }

  // The root element and everything inside it, without recursion.
  bool element() {
    if (!at('<')) return false;
    ++p_;
    bool empty = false;
    if (!start_tag(empty)) return false;
    if (empty) {
      close();
      return true;
    }
    while (!stack_.empty()) {
      if (at('<')) {
        ++p_;
        if (at('/')) {
          ++p_;
          const std::string_view tag = name();
          if (tag.empty() || tag != stack_.back() || !at('>')) return false;
          ++p_;
          close();
        } else {
          if (!start_tag(empty)) return false;
          if (empty) close();
        }
      } else {
        bool write = false;
        if (!indenter_.begin_text(write) || !run_of(kBytes.text, false)) return false;
      }
    }
    return true;
  }

  void close() {
    indenter_.end_tag(stack_.back());
    stack_.pop_back();
  }

  // Beyond this many attributes on one element the duplicate check would grow slow.
  static constexpr std::size_t kMaxAttributes = 64;

  const char* p_;
  const char* end_;
  Indenter indenter_;
  std::vector<std::string_view> stack_;
  std::vector<std::string_view> attributes_;
};

// Collects the text in memory. Indenting adds about half again to compact bytes; untouched
// reserve costs nothing.
struct Collector {
  explicit Collector(std::string_view bytes) { text.reserve(bytes.size() * 2); }
  utils::DocumentBuffer text;
  const TextSink sink{[this](std::string_view piece) { text.append(piece); },
                      [this] { text.truncate(0); }};
};

}  // namespace

void pretty_print_to(std::string_view bytes, std::string_view indent, std::string_view what,
                     const TextSink& sink) {
  if (QuickReader(bytes, indent, sink).run()) return;
  sink.restart();
  libxml2_pretty_print_to(bytes, indent, what, sink);
}

utils::DocumentBuffer pretty_print(std::string_view bytes, std::string_view indent, std::string_view what) {
  Collector collected(bytes);
  pretty_print_to(bytes, indent, what, collected.sink);
  return std::move(collected.text);
}

std::optional<utils::DocumentBuffer> quick_pretty_print(std::string_view bytes,
                                                        std::string_view indent) {
  Collector collected(bytes);
  if (!QuickReader(bytes, indent, collected.sink).run()) return std::nullopt;
  return std::move(collected.text);
}

utils::DocumentBuffer libxml2_pretty_print(std::string_view bytes, std::string_view indent,
                                           std::string_view what) {
  Collector collected(bytes);
  libxml2_pretty_print_to(bytes, indent, what, collected.sink);
  return std::move(collected.text);
}

}  // namespace morvi::reporter::markfolio
