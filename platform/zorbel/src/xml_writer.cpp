// The compact text form of an element tree. Written here rather than through libxml2's saver,
// which escapes character by character; this one appends runs to one buffer and walks the tree
// with its own stack.
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Room made before each node; longer texts make room for themselves.
constexpr std::size_t kNodeRoom = 4096;
// The longest replacement, "&quot;", per byte.
constexpr std::size_t kMaxGrowth = 6;

void append_escaped(std::string& out, std::string_view content,
                    const std::array<const char*, 256>& table) {
  if (content.size() > kNodeRoom / kMaxGrowth) make_room(out, content.size() * kMaxGrowth);
  std::size_t run = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (const char* replacement = table[static_cast<unsigned char>(content[i])]) {
      out.append(content, run, i - run);
      out.append(replacement);
      run = i + 1;
    }
  }
  out.append(content, run);
}

std::string_view view(const xmlChar* text) {
  return text ? reinterpret_cast<const char*>(text) : "";
}

void write_start_tag(std::string& out, const xmlNode* node) {
  out.push_back('<');
  out.append(view(node->name));
  for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
    out.push_back(' ');
    out.append(view(attr->name));
    out.append("=\"");
    for (const xmlNode* part = attr->children; part != nullptr; part = part->next) {
      append_escaped_attribute(out, view(part->content));
    }
    out.push_back('"');
  }
}

}  // namespace

void make_room(std::string& out, std::size_t extra) {
  if (out.size() + extra <= out.capacity()) return;
  out.reserve(std::max(out.capacity() * 2, out.size() + extra));
  if (out.capacity() < 2 * kHugePage) return;
  // Advice only: where huge pages are off, the buffer simply keeps small pages.
  const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + out.capacity()) & ~(kHugePage - 1);
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void append_escaped_text(std::string& out, std::string_view text) {
  append_escaped(out, text, kEscapes.text);
}

void append_escaped_attribute(std::string& out, std::string_view value) {
  append_escaped(out, value, kEscapes.attribute);
}

std::string to_bytes(const Document& document) {
  const xmlNode* element = document.root().native();
  std::string out;
  make_room(out, document.estimated_size() + document.estimated_size() / 16);
  out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  // Each entry: an element whose children are being written, and the next child to write.
  std::vector<std::pair<const xmlNode*, const xmlNode*>> open;
  write_start_tag(out, element);
  if (element->children == nullptr) {
    out.append("/>");
    return out;
  }
  out.push_back('>');
  open.emplace_back(element, element->children);
  while (!open.empty()) {
    auto& [parent, next] = open.back();
    const xmlNode* node = next;
    if (node == nullptr) {
      out.append("</");
      out.append(view(parent->name));
      out.push_back('>');
      open.pop_back();
      continue;
    }
    next = node->next;
    make_room(out, kNodeRoom);
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      append_escaped_text(out, view(node->content));
    } else if (node->type == XML_ELEMENT_NODE) {
      write_start_tag(out, node);
      if (node->children == nullptr) {
        out.append("/>");
      } else {
        out.push_back('>');
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
