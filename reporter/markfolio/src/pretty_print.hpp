#pragma once
// Parsing XML bytes back and indenting them.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "morvi/utils/document_buffer.hpp"

namespace morvi::reporter::markfolio {

// Parses UTF-8 XML bytes of any size and returns the indented text: the declaration line
// `<?xml version="1.0"?>` (naming no encoding: the text is UTF-8), then one element per line,
// each nesting level indented by one more `indent`, attributes in document order, empty
// elements as `<name/>`. An element holding text keeps its whole content on one line,
// unchanged, so no whitespace is ever added to data.
//
// Documents in the plain form zorbel::xml::to_bytes writes are checked and indented in one quick
// pass of their own; any other document goes to libxml2, whose SAX2 events are indented while
// its parser checks every byte, so no parsed tree is built and freed in between. Parser options: XML_PARSE_HUGE lifts libxml2's
// limits of 256 levels of nesting and 10 MB per text node (a long detail is data; the depth of
// the trees written here is bounded by zorbel::xml::kMaxDepth); XML_PARSE_NONET, no DTD loading,
// and a DTD refused before its declarations are read, so nothing is fetched and no entity but
// the predefined ones is ever expanded. Errors are not
// printed: a document that is not well-formed raises ParseError naming `what`, the line and
// the column. Elements holding both text and other elements after one another, comments,
// processing instructions, DTDs and namespaces are never written by this package and are
// refused with SerializationError rather than reshaped.
utils::DocumentBuffer pretty_print(std::string_view bytes, std::string_view indent, std::string_view what);

// Where pretty_print_to sends the indented text, in pieces of about a megabyte.
struct TextSink {
  std::function<void(std::string_view)> write;
  // Drops everything written so far: the text starts again.
  std::function<void()> restart;
};

// pretty_print, the text going to `sink` as it is made rather than held whole. When an error
// is raised, the sink holds part of the text.
void pretty_print_to(std::string_view bytes, std::string_view indent, std::string_view what,
                     const TextSink& sink);

// A document handed over in pieces: calls `use` with each piece in turn.
using Pieces = std::function<void(const std::function<void(std::string_view)>& use)>;

// pretty_print_to for a document that `produce` hands over in pieces, each ending right after
// a '>' (as zorbel::xml::TextWriter hands them), so that it is never held whole. `produce` is
// called once, and again when the quick reader gives the document up. What `produce` raises
// propagates as it is; what reading or the sink raises is raised once `produce` has handed
// over its last piece, so that an error of the producer comes first.
void pretty_print_pieces(const Pieces& produce, std::string_view indent, std::string_view what,
                         const TextSink& sink);

// The two readers pretty_print chooses between. The quick one returns nullopt for anything it
// does not take, well-formed or not; what it takes, libxml2 indents to the same text.
std::optional<utils::DocumentBuffer> quick_pretty_print(std::string_view bytes,
                                                        std::string_view indent);
utils::DocumentBuffer libxml2_pretty_print(std::string_view bytes, std::string_view indent,
                                           std::string_view what);

}  // namespace morvi::reporter::markfolio
