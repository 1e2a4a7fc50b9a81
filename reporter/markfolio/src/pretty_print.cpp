#include "pretty_print.hpp"

#include <libxml/parser.h>

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/utils/utf8.hpp"
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

// libxml2's push parser, fed a document a piece at a time, driving the indenter through
// Printer.
class Libxml2Reader {
 public:
  Libxml2Reader(std::string_view indent, std::string_view what, const TextSink& sink)
      : what_(what), printer_(indent, sink) {
    sax_.initialized = XML_SAX2_MAGIC;
    sax_.startElementNs = &Printer::start;
    sax_.endElementNs = &Printer::end;
    sax_.characters = &Printer::text;
    sax_.cdataBlock = &Printer::text;
    sax_.ignorableWhitespace = &Printer::text;
    sax_.comment = &Printer::comment;
    sax_.processingInstruction = &Printer::instruction;
    sax_.internalSubset = &Printer::dtd;
    ctxt_.reset(xmlCreatePushParserCtxt(&sax_, &printer_, nullptr, 0, nullptr));
    if (!ctxt_) throw std::bad_alloc();
    printer_.ctxt = ctxt_.get();
    xmlCtxtUseOptions(ctxt_.get(), kParseOptions);
  }

  // Parses the next piece, the last one when `last`, and raises what the parser or the
  // indenter refused.
  void feed(std::string_view piece, bool last) {
    std::size_t done = 0;
    do {
      const std::size_t n = std::min(piece.size() - done, kChunk);
      const bool end = last && done + n == piece.size();
      const int status = xmlParseChunk(ctxt_.get(), piece.data() + done, static_cast<int>(n),
                                       end ? 1 : 0);
      done += n;
      if (!printer_.refusal.empty()) throw SerializationError(printer_.refusal);
      // A document found not well-formed without stopping the parser is refused at its end.
      if (status != 0 || (end && !ctxt_->wellFormed)) refuse();
    } while (done < piece.size());
    if (last) printer_.indenter.finish();
  }

 private:
  [[noreturn]] void refuse() const {
    const xmlError* error = xmlCtxtGetLastError(ctxt_.get());
    std::string message = error && error->message ? error->message : "not well-formed";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    const std::size_t line = error ? static_cast<std::size_t>(std::max(error->line, 0)) : 0;
    const std::size_t column = error ? static_cast<std::size_t>(std::max(error->int2, 0)) : 0;
    throw ParseError("cannot parse the " + std::string(what_) + " XML at line " +
                         std::to_string(line) + ", column " + std::to_string(column) + ": " +
                         message,
                     line, column);
  }

  std::string_view what_;
  xmlSAXHandler sax_{};
  Printer printer_;
  std::unique_ptr<xmlParserCtxt, ContextFree> ctxt_;
};

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

// Length of the UTF-8 sequence at `p` when it encodes an XML character, else 0: the core's
// decoder, less the two code points XML leaves out.
std::size_t xml_char_length(const unsigned char* p, const unsigned char* end) {
  const std::string_view rest(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
  const utils::utf8::CodePoint c = utils::utf8::decode(rest, 0);
  return c.valid && c.value != 0xFFFE && c.value != 0xFFFF ? c.size : 0;
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
// malformed) makes it give up, and libxml2 reads the document instead, so every
// verdict and every message stays libxml2's. A document it takes is one libxml2 reads as
// well-formed into the same events, and whose indented form holds every text and attribute
// value as written.
class QuickReader {
 public:
  QuickReader(std::string_view indent, const TextSink& sink) : indenter_(indent, sink) {}

  // Reads the next piece of the document. A piece may end anywhere but inside a tag or a
  // text. False when the document is left to libxml2; the sink may have had part of the text
  // then.
  bool feed(std::string_view piece) {
    p_ = piece.data();
    end_ = piece.data() + piece.size();
    if (!started_) {
      started_ = true;
      constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
      if (rest().starts_with(kDeclaration)) p_ += kDeclaration.size();
    }
    while (p_ != end_) {
      if (tag_starts_.empty()) {
        // Before the root element, or after it: only white space may stand there.
        skip_space();
        if (p_ == end_) break;
        if (done_ || !at('<')) return false;
        ++p_;
        if (!start_tag()) return false;
      } else if (!content()) {
        return false;
      }
    }
    return true;
  }

  // After the last piece: false when the document was left unfinished.
  bool finish() {
    if (!done_) return false;
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
  bool start_tag() {
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
    tag_starts_.push_back(tags_.size());
    tags_.append(tag);
    if (rest().starts_with("/>")) {
      p_ += 2;
      close();
      return true;
    }
    if (!at('>')) return false;
    ++p_;
    return true;
  }

  // What follows inside an open element: a child's start tag, the element's end tag, or text.
  bool content() {
    if (!at('<')) {
      bool write = false;
      return indenter_.begin_text(write) && run_of(kBytes.text, false);
    }
    ++p_;
    if (!at('/')) return start_tag();
    ++p_;
    const std::string_view tag = name();
    if (tag.empty() || tag != open_tag() || !at('>')) return false;
    ++p_;
    close();
    return true;
  }

  // The name of the innermost open element, kept here: the piece it came in is gone.
  std::string_view open_tag() const {
    return std::string_view(tags_).substr(tag_starts_.back());
  }

  void close() {
    indenter_.end_tag(open_tag());
    tags_.resize(tag_starts_.back());
    tag_starts_.pop_back();
    done_ = tag_starts_.empty();
  }

  // Beyond this many attributes on one element the duplicate check would grow slow.
  static constexpr std::size_t kMaxAttributes = 64;

  const char* p_ = nullptr;
  const char* end_ = nullptr;
  Indenter indenter_;
  bool started_ = false;
  bool done_ = false;  // the root element is closed
  std::string tags_;  // the names of the open elements, one after another
  std::vector<std::size_t> tag_starts_;
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
  {
    QuickReader quick(indent, sink);
    if (quick.feed(bytes) && quick.finish()) return;
  }
  sink.restart();
  Libxml2Reader(indent, what, sink).feed(bytes, true);
}

void pretty_print_pieces(const Pieces& produce, std::string_view indent, std::string_view what,
                         const TextSink& sink) {
  // What reading raises waits until the producer is done, and the pieces after it are passed
  // over.
  std::exception_ptr failure;
  {
    QuickReader quick(indent, sink);
    bool taken = true;
    produce([&](std::string_view piece) {
      if (!taken || failure) return;
      try {
        taken = quick.feed(piece);
      } catch (...) {
        failure = std::current_exception();
      }
    });
    if (failure) std::rethrow_exception(failure);
    if (taken && quick.finish()) return;
  }
  sink.restart();
  Libxml2Reader reader(indent, what, sink);
  produce([&](std::string_view piece) {
    if (failure) return;
    try {
      reader.feed(piece, false);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
  reader.feed({}, true);
}

utils::DocumentBuffer pretty_print(std::string_view bytes, std::string_view indent, std::string_view what) {
  Collector collected(bytes);
  pretty_print_to(bytes, indent, what, collected.sink);
  return std::move(collected.text);
}

std::optional<utils::DocumentBuffer> quick_pretty_print(std::string_view bytes,
                                                        std::string_view indent) {
  Collector collected(bytes);
  QuickReader quick(indent, collected.sink);
  if (!quick.feed(bytes) || !quick.finish()) return std::nullopt;
  return std::move(collected.text);
}

utils::DocumentBuffer libxml2_pretty_print(std::string_view bytes, std::string_view indent,
                                           std::string_view what) {
  Collector collected(bytes);
  Libxml2Reader(indent, what, collected.sink).feed(bytes, true);
  return std::move(collected.text);
}

}  // namespace morvi::reporter::markfolio
