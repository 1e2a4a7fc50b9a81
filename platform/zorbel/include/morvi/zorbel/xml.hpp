#pragma once
// The documents the legacy report model renders into, reached through thin element handles:
// a libxml2 element tree, or a writer of the compact UTF-8 text form that holds no tree.
// libxml2's types are only named here, so a user of this header needs none of libxml2's
// headers.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "morvi/utils/document_buffer.hpp"

// libxml2's document structure, as its own headers name it.
struct _xmlDoc;

#pragma GCC visibility push(default)
namespace morvi::zorbel::xml {

// Deepest element nesting a tree may reach (the root is level 1). Deeper trees are refused
// while they are built, so no reader, writer or validator meets unbounded nesting, and an
// indented form stays small. The limit stays below the 2048 levels that libxml2's
// parser accepts under XML_PARSE_HUGE in its current releases.
inline constexpr int kMaxDepth = 2000;

// What element handles write into: a Document's tree or a TextWriter's text (internal).
class Builder;

// A non-owning handle to one element of a Document or a TextWriter, aware of its nesting
// level.
class Element {
 public:
  Element(Builder* builder, std::uintptr_t node, int depth) noexcept
      : builder_(builder), node_(node), depth_(depth) {}

  // A new last child element. ArgumentError when it would nest deeper than kMaxDepth.
  Element append_child(const char* tag) const;
  // Adds a text node. Characters XML 1.0 cannot carry (NUL and the other control characters
  // but tab, line feed and carriage return, lone surrogates, U+FFFE, U+FFFF, bytes that are
  // not UTF-8) are stored in the notation of morvi/utils/xml_chars.hpp, so every tree
  // serialises to a well-formed document; other text is stored as given.
  void set_text(std::string_view text) const;
  // Sets an attribute (attributes keep the order they were first set in); the value is stored
  // as set_text stores a text.
  void set_attribute(const char* name, std::string_view value) const;

  std::string_view tag() const;
  int depth() const noexcept { return depth_; }

 private:
  Builder* builder_;
  std::uintptr_t node_;
  int depth_;
};

// Owns a libxml2 document holding one root element; element names are interned in the
// document's dictionary. Elements may be added to in any order.
class Document {
 public:
  explicit Document(const char* root_tag);
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();

  Element root() const noexcept;
  _xmlDoc* native() const noexcept;
  // About the length of the compact form: markup and text as added, references not counted.
  std::size_t estimated_size() const noexcept;

 private:
  class Tree;
  std::unique_ptr<Tree> tree_;
};

// Writes the compact form of a document as its elements are added, holding no tree: the text
// to_bytes would write for a Document built by the same calls. The elements must be written
// in document order: adding to an element closes every element opened inside it since, and
// an element once closed, or an attribute set after an element's content, is a logic error
// (std::logic_error).
class TextWriter {
 public:
  // Where a writer hands its text as it goes.
  using Sink = std::function<void(std::string_view)>;

  // Keeps the whole text, for finish() to hand over.
  explicit TextWriter(const char* root_tag);
  // Hands the text to `sink` whenever about `piece` bytes are ready, in pieces that each end
  // right after a '>', the end of a tag (text and attribute values carry '>' as "&gt;"), so
  // that no piece cuts a tag or a text in two. What the sink raises reaches the caller of the
  // call that wrote the piece.
  TextWriter(const char* root_tag, Sink sink, std::size_t piece);
  TextWriter(TextWriter&&) noexcept;
  TextWriter& operator=(TextWriter&&) noexcept;
  ~TextWriter();

  Element root() const noexcept;
  // Closes every open element and hands over the compact form, or with a sink hands it the
  // rest and returns nothing; the writer takes no more.
  utils::DocumentBuffer finish();

 private:
  class Stream;
  std::unique_ptr<Stream> stream_;
};

// The compact form: `<?xml version="1.0" encoding="UTF-8"?>`, a line feed, then the root
// element and its descendants without any added whitespace, text written byte for byte (only the
// markup characters are replaced by references), attributes in the order they were set.
// ArgumentError for nodes other than elements and text.
utils::DocumentBuffer to_bytes(const Document& document);

// Appends `text` as character data: `&`, `<`, `>` and carriage return become references.
void append_escaped_text(utils::DocumentBuffer& out, std::string_view text);
// Appends `value` for use between double quotes: as text, plus `"`, tab and line feed, which
// a parser would otherwise normalise.
void append_escaped_attribute(utils::DocumentBuffer& out, std::string_view value);

}  // namespace morvi::zorbel::xml
#pragma GCC visibility pop
