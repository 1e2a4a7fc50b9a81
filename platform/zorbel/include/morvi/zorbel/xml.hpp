#pragma once
// The element trees the legacy report model renders into: thin handles over libxml2 nodes, and
// their compact UTF-8 text form. libxml2's types are only named here, so a user of this header
// needs none of libxml2's headers.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "morvi/utils/document_buffer.hpp"

// libxml2's node and document structures, as its own headers name them.
struct _xmlNode;
struct _xmlDoc;

#pragma GCC visibility push(default)
namespace morvi::zorbel::xml {

// Deepest element nesting a tree may reach (the root is level 1). Deeper trees are refused
// while they are built, so no reader, writer or validator meets unbounded nesting, and an
// indented form stays small. The limit stays below the 2048 levels that libxml2's
// parser accepts under XML_PARSE_HUGE in its current releases.
inline constexpr int kMaxDepth = 2000;

// A non-owning handle to one element of a Document, aware of its nesting level.
class Element {
 public:
  // `size` is the owning document's running estimate of its compact form.
  Element(_xmlNode* node, int depth, std::size_t* size) noexcept
      : node_(node), depth_(depth), size_(size) {}

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

  std::string_view tag() const noexcept;
  int depth() const noexcept { return depth_; }
  _xmlNode* native() const noexcept { return node_; }

 private:
  _xmlNode* node_;
  int depth_;
  std::size_t* size_;
};

// Owns a libxml2 document holding one root element; element names are interned in the
// document's dictionary.
class Document {
 public:
  explicit Document(const char* root_tag);

  Element root() const noexcept;
  _xmlDoc* native() const noexcept { return doc_.get(); }
  // About the length of the compact form: markup and text as added, references not counted.
  std::size_t estimated_size() const noexcept { return *size_; }

 private:
  struct Free {
    void operator()(_xmlDoc* doc) const noexcept;
  };
  std::unique_ptr<_xmlDoc, Free> doc_;
  std::unique_ptr<std::size_t> size_;
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
