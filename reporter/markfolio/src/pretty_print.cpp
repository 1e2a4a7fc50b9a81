#include "pretty_print.hpp"

#include <libxml/parser.h>

#include <algorithm>
#include <memory>
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

std::string_view view(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

// Receives the parser's events and writes the indented text. Callbacks never throw through
// libxml2: a refusal is recorded and the parser stopped.
class Printer {
 public:
  Printer(std::string_view indent, std::size_t expected) : indent_(indent) {
    out_.reserve(expected);
    out_.append("<?xml version=\"1.0\"?>\n");
  }

  xmlParserCtxt* ctxt = nullptr;
  std::string refusal;

  utils::DocumentBuffer take() { return std::move(out_); }

  static void start(void* self, const xmlChar* name, const xmlChar* prefix, const xmlChar*,
                    int namespaces, const xmlChar**, int attribute_count, int,
                    const xmlChar** attributes) {
    auto& p = *static_cast<Printer*>(self);
    if (prefix != nullptr || namespaces > 0) return p.refuse("namespaces");
    const bool inside_text = !p.open_.empty() && p.open_.back().holds_text;
    p.out_.reserve(kElementRoom + p.open_.size() * p.indent_.size());
    p.close_start_tag();
    if (!inside_text) p.indent(p.open_.size());
    p.out_.append('<');
    p.out_.append(view(name));
    for (int i = 0; i < attribute_count; ++i) {
      const xmlChar* const* a = attributes + 5 * i;
      if (a[1] != nullptr) return p.refuse("namespaces");
      p.out_.append(' ');
      p.out_.append(view(a[0]));
      p.out_.append("=\"");
      zorbel::xml::append_escaped_attribute(
          p.out_, std::string_view(reinterpret_cast<const char*>(a[3]),
                                   static_cast<std::size_t>(a[4] - a[3])));
      p.out_.append('"');
    }
    p.open_.push_back({inside_text, false});
    p.start_tag_open_ = true;
  }

  static void end(void* self, const xmlChar* name, const xmlChar*, const xmlChar*) {
    auto& p = *static_cast<Printer*>(self);
    const Open done = p.open_.back();
    p.open_.pop_back();
    if (p.start_tag_open_) {
      p.out_.append("/>");
      p.start_tag_open_ = false;
    } else {
      if (!done.holds_text) p.indent(p.open_.size());
      p.out_.append("</");
      p.out_.append(view(name));
      p.out_.append('>');
    }
    if (!done.inside_text) p.out_.append('\n');
  }

  static void text(void* self, const xmlChar* chars, int length) {
    auto& p = *static_cast<Printer*>(self);
    if (p.open_.empty()) return;  // white space around the root element
    Open& parent = p.open_.back();
    if (p.start_tag_open_) {
      parent.holds_text = true;
    } else if (!parent.holds_text) {
      return p.refuse("text after child elements");
    }
    p.close_start_tag();
    zorbel::xml::append_escaped_text(
        p.out_, std::string_view(reinterpret_cast<const char*>(chars),
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
  struct Open {
    bool inside_text;  // the element sits in text-bearing content: no line breaks around it
    bool holds_text;   // its content is written on one line, unchanged
  };

  void refuse(const char* what) {
    if (refusal.empty()) refusal = std::string("cannot indent a document holding ") + what;
    xmlStopParser(ctxt);
  }

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
  std::string indents_;
  utils::DocumentBuffer out_;
  std::vector<Open> open_;
  bool start_tag_open_ = false;
};

struct ContextFree {
  void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

}  // namespace

utils::DocumentBuffer pretty_print(std::string_view bytes, std::string_view indent, std::string_view what) {
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

  // Indenting adds about half again to compact bytes; untouched reserve costs nothing.
  Printer printer(indent, bytes.size() * 2);
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
  return printer.take();
}

}  // namespace morvi::reporter::markfolio
