// The compact and the indented text forms of an element tree. Written here rather than through
// libxml2's saver because that one stops indenting past 30 levels and escapes character by
// character; this one appends runs to one buffer and walks the tree with its own stack.
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

void append_escaped(std::string& out, const xmlChar* content,
                    const std::array<const char*, 256>& table) {
  if (content == nullptr) return;
  const char* run = reinterpret_cast<const char*>(content);
  const char* p = run;
  for (;; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == 0) break;
    if (const char* replacement = table[byte]) {
      out.append(run, p);
      out.append(replacement);
      run = p + 1;
    }
  }
  out.append(run, p);
}

void append_name(std::string& out, const xmlChar* name) {
  out.append(reinterpret_cast<const char*>(name));
}

bool is_text(const xmlNode* node) {
  return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

class Writer {
 public:
  Writer(std::string& out, std::string_view indent) : out_(out), indent_(indent) {}

  void write(const xmlNode* root) {
    const bool pretty = !indent_.empty();
    if (!open(root, 0, !pretty)) {
      if (pretty) out_.push_back('\n');
    }
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      const xmlNode* child = frame.next;
      if (child == nullptr) {
        const Frame done = frame;
        stack_.pop_back();
        if (!done.content_inline) indent(done.depth);
        out_.append("</");
        append_name(out_, done.node->name);
        out_.push_back('>');
        if (!done.self_inline) out_.push_back('\n');
        continue;
      }
      frame.next = child->next;
      if (child->type == XML_ELEMENT_NODE) {
        const bool inline_child = frame.content_inline;
        const int depth = frame.depth + 1;
        if (!open(child, depth, inline_child) && !inline_child) out_.push_back('\n');
      } else if (is_text(child)) {
        append_escaped(out_, child->content, kEscapes.text);
      } else {
        throw SerializationError("cannot write an XML node of libxml2 type " +
                                 std::to_string(static_cast<int>(child->type)) + " inside <" +
                                 reinterpret_cast<const char*>(frame.node->name) + ">");
      }
    }
  }

 private:
  struct Frame {
    const xmlNode* node;
    const xmlNode* next;
    int depth;
    bool self_inline;     // the element sits inside text-bearing content: no line breaks
    bool content_inline;  // its children are written without line breaks or indentation
  };

  void indent(int depth) {
    const std::size_t width = static_cast<std::size_t>(depth) * indent_.size();
    while (indents_.size() < width) indents_.append(indent_);
    out_.append(indents_, 0, width);
  }

  // Writes the start tag (or the whole empty element); returns true when children follow.
  bool open(const xmlNode* node, int depth, bool self_inline) {
    if (!self_inline) indent(depth);
    out_.push_back('<');
    append_name(out_, node->name);
    for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
      out_.push_back(' ');
      append_name(out_, attr->name);
      out_.append("=\"");
      for (const xmlNode* part = attr->children; part != nullptr; part = part->next) {
        append_escaped(out_, part->content, kEscapes.attribute);
      }
      out_.push_back('"');
    }
    if (node->children == nullptr) {
      out_.append("/>");
      return false;
    }
    out_.push_back('>');
    bool holds_text = self_inline;
    for (const xmlNode* c = node->children; c != nullptr && !holds_text; c = c->next) {
      holds_text = is_text(c);
    }
    if (!holds_text) out_.push_back('\n');
    stack_.push_back(Frame{node, node->children, depth, self_inline, holds_text});
    return true;
  }

  std::string& out_;
  std::string_view indent_;
  std::string indents_;  // the indentation of the deepest level so far
  std::vector<Frame> stack_;
};

}  // namespace

std::string to_bytes(const xmlNode* element) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  Writer(out, {}).write(element);
  return out;
}

std::string to_pretty_text(const xmlNode* element, std::string_view indent) {
  std::string out = "<?xml version=\"1.0\"?>\n";
  Writer(out, indent).write(element);
  return out;
}

}  // namespace morvi::zorbel::xml
