// The compact text form of an element tree. Written here rather than through libxml2's saver,
// which escapes character by character; this one appends runs to one buffer and walks the tree
// with its own stack.
#include <libxml/tree.h>

#include <array>
#include <string>
#include <vector>

#include "builder.hpp"
#include "morvi/errors.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {
namespace {

// Replacement for each byte that needs one, in text content and in attribute values.
struct EscapeTable {
  std::array<const char*, 256> text{};
  std::array<const char*, 256> attribute{};
  constexpr EscapeTable() {
    text['&'] = attribute['&'] = "&amp;";
    text['<'] = attribute['<'] = "&lt;";
    text['>'] = attribute['>'] = "&gt;";
    // A carriage return would come back as a line feed after parsing.
    text['\r'] = attribute['\r'] = "&#13;";
    // Inside attributes, white space other than a plain space is normalised by parsers.
    attribute['"'] = "&quot;";
    attribute['\n'] = "&#10;";
    attribute['\t'] = "&#9;";
  }
};
constexpr EscapeTable kEscapes;

// Room made before each node; longer texts make room for themselves.
constexpr std::size_t kNodeRoom = 4096;
// The longest replacement, "&quot;", per byte.
constexpr std::size_t kMaxGrowth = 6;

void append_escaped(utils::DocumentBuffer& out, std::string_view content,
                    const std::array<const char*, 256>& table) {
  if (content.size() > kNodeRoom / kMaxGrowth) out.reserve(content.size() * kMaxGrowth);
  std::size_t run = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (const char* replacement = table[static_cast<unsigned char>(content[i])]) {
      out.append(content.substr(run, i - run));
      out.append(std::string_view(replacement));
      run = i + 1;
    }
  }
  out.append(content.substr(run));
}

std::string_view view(const xmlChar* text) {
  return text ? reinterpret_cast<const char*>(text) : "";
}

void write_start_tag(utils::DocumentBuffer& out, const xmlNode* node) {
  out.append('<');
  out.append(view(node->name));
  for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
    out.append(' ');
    out.append(view(attr->name));
    out.append("=\"");
    for (const xmlNode* part = attr->children; part != nullptr; part = part->next) {
      append_escaped_attribute(out, view(part->content));
    }
    out.append('"');
  }
}

}  // namespace

void append_escaped_text(utils::DocumentBuffer& out, std::string_view text) {
  append_escaped(out, text, kEscapes.text);
}

void append_escaped_attribute(utils::DocumentBuffer& out, std::string_view value) {
  append_escaped(out, value, kEscapes.attribute);
}

utils::DocumentBuffer to_bytes(const Document& document) {
  const xmlNode* element = xmlDocGetRootElement(document.native());
  utils::DocumentBuffer out;
  out.reserve(document.estimated_size() + document.estimated_size() / 16);
  out.append(kDeclaration);
  // Each entry: an element whose children are being written, and the next child to write.
  std::vector<std::pair<const xmlNode*, const xmlNode*>> open;
  write_start_tag(out, element);
  if (element->children == nullptr) {
    out.append("/>");
    return out;
  }
  out.append('>');
  open.emplace_back(element, element->children);
  while (!open.empty()) {
    auto& [parent, next] = open.back();
    const xmlNode* node = next;
    if (node == nullptr) {
      out.append("</");
      out.append(view(parent->name));
      out.append('>');
      open.pop_back();
      continue;
    }
    next = node->next;
    out.reserve(kNodeRoom);
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      append_escaped_text(out, view(node->content));
    } else if (node->type == XML_ELEMENT_NODE) {
      write_start_tag(out, node);
      if (node->children == nullptr) {
        out.append("/>");
      } else {
        out.append('>');
        open.emplace_back(node, node->children);
      }
    } else {
      throw ArgumentError("cannot write an XML node of libxml2 type " +
                          std::to_string(static_cast<int>(node->type)) + " inside <" +
                          std::string(view(parent->name)) + ">");
    }
  }
  return out;
}

}  // namespace morvi::zorbel::xml
