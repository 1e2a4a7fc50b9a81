#pragma once
// The element trees the legacy report model renders into: thin handles over libxml2 nodes, and
// the two text forms of a tree (compact UTF-8 bytes, and the indented form people read).
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

namespace morvi::zorbel::xml {

// Deepest element nesting a tree may reach (the root is level 1). Deeper trees are refused
// while they are built, so no reader, writer or validator meets unbounded nesting, and the
// indented form stays linear in size. The limit stays below the 2048 levels that libxml2's
// parser accepts under XML_PARSE_HUGE in its current releases.
inline constexpr int kMaxDepth = 2000;

// A non-owning handle to one element of a Document, aware of its nesting level.
class Element {
 public:
  Element(xmlNode* node, int depth) noexcept : node_(node), depth_(depth) {}

  // A new last child element. ArgumentError when it would nest deeper than kMaxDepth.
  Element append_child(const char* tag) const;
  // Adds a text node. Text is stored as given (no checks beyond this): characters XML does not
  // allow reach the compact form unchanged, and a parser then refuses them. ArgumentError for
  // a NUL byte, which libxml2 cannot hold.
  void set_text(std::string_view text) const;
  // Sets an attribute (attributes keep the order they were first set in); the same rules as
  // set_text apply to the value.
  void set_attribute(const char* name, std::string_view value) const;

  std::string_view tag() const noexcept;
  int depth() const noexcept { return depth_; }
  xmlNode* native() const noexcept { return node_; }

 private:
  xmlNode* node_;
  int depth_;
};

struct DocFree {
  void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// Owns a libxml2 document holding one root element; element names are interned in the
// document's dictionary.
class Document {
 public:
  explicit Document(const char* root_tag);

  Element root() const noexcept { return Element(xmlDocGetRootElement(doc_.get()), 1); }
  xmlDoc* native() const noexcept { return doc_.get(); }

 private:
  DocPtr doc_;
};

// The compact form: `<?xml version="1.0" encoding="UTF-8"?>`, a line feed, then the element
// and its descendants without any added whitespace, text written byte for byte (only the
// markup characters are replaced by references).
std::string to_bytes(const xmlNode* element);

// The indented form: the declaration line `<?xml version="1.0"?>`, then one element per line,
// each nesting level indented by one more `indent`. An element holding text is written on one
// line with its content unchanged, so no whitespace is ever added to data.
std::string to_pretty_text(const xmlNode* element, std::string_view indent);

}  // namespace morvi::zorbel::xml
