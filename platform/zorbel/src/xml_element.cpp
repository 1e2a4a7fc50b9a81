// Element handles and documents over libxml2.
#include <libxml/tree.h>

#include <cstring>
#include <new>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/utils/xml_chars.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {
namespace {

const xmlChar* chars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Every text reaches the tree through here, so no value can make the document unreadable:
// what XML cannot carry (NUL, other control characters, bytes that are not UTF-8) is written
// in the notation the escaping of report values uses. The scan leaves valid text untouched
// and uncopied.
std::string_view carried(std::string_view text, std::string& storage) {
  if (utils::is_xml_safe(text)) return text;
  storage = utils::escape_xml_unsafe(text);
  return storage;
}

// Texts up to this length are kept once in the document's dictionary: reports repeat the same
// short values ("-1", "int", "passed") hundreds of thousands of times, and a node sharing one
// copy saves an allocation and a free. libxml2 never frees text it finds in the dictionary.
constexpr std::size_t kInternLimit = 12;

xmlNode* new_text(xmlDoc* doc, std::string_view text) {
  const auto* chars = reinterpret_cast<const xmlChar*>(text.data());
  const auto length = static_cast<int>(text.size());
  if (text.size() > kInternLimit) {
    xmlNode* node = xmlNewDocTextLen(doc, chars, length);
    if (node == nullptr) throw std::bad_alloc();
    return node;
  }
  const xmlChar* interned = xmlDictLookup(doc->dict, chars, length);
  xmlNode* node = xmlNewDocText(doc, nullptr);
  if (interned == nullptr || node == nullptr) {
    xmlFreeNode(node);
    throw std::bad_alloc();
  }
  node->content = const_cast<xmlChar*>(interned);
  return node;
}

}  // namespace

Element Element::append_child(const char* tag) const {
  if (depth_ >= kMaxDepth) {
    throw ArgumentError("XML elements nest deeper than the limit of " +
                        std::to_string(kMaxDepth) + " levels (at <" + tag + "> inside <" +
                        std::string(this->tag()) + ">)");
  }
  xmlNode* child = xmlNewChild(node_, nullptr, chars(tag), nullptr);
  if (child == nullptr) throw std::bad_alloc();
  *size_ += 2 * std::strlen(tag) + 5;  // <tag></tag>
  return Element(child, depth_ + 1, size_);
}

void Element::set_text(std::string_view given) const {
  std::string storage;
  const std::string_view text = carried(given, storage);
  if (text.empty()) return;
  *size_ += text.size();
  xmlNode* node = new_text(node_->doc, text);
  if (xmlAddChild(node_, node) == nullptr) {
    xmlFreeNode(node);
    throw std::bad_alloc();
  }
}

void Element::set_attribute(const char* name, std::string_view given) const {
  std::string storage;
  const std::string_view value = carried(given, storage);
  *size_ += std::strlen(name) + value.size() + 4;  // space, name, ="value"
  if (xmlHasProp(node_, chars(name)) != nullptr) {
    xmlSetProp(node_, chars(name), chars(std::string(value).c_str()));
    return;
  }
  xmlAttr* attr = xmlNewProp(node_, chars(name), nullptr);
  if (attr == nullptr) throw std::bad_alloc();
  xmlNode* text = new_text(node_->doc, value);
  text->parent = reinterpret_cast<xmlNode*>(attr);
  attr->children = text;
  attr->last = text;
}

std::string_view Element::tag() const noexcept {
  return reinterpret_cast<const char*>(node_->name);
}

Document::Document(const char* root_tag)
    : doc_(xmlNewDoc(chars("1.0"))), size_(std::make_unique<std::size_t>(64)) {
  if (!doc_) throw std::bad_alloc();
  doc_->dict = xmlDictCreate();
  if (doc_->dict == nullptr) throw std::bad_alloc();
  xmlNode* root = xmlNewDocNode(doc_.get(), nullptr, chars(root_tag), nullptr);
  if (root == nullptr) throw std::bad_alloc();
  xmlDocSetRootElement(doc_.get(), root);
}

Element Document::root() const noexcept {
  return Element(xmlDocGetRootElement(doc_.get()), 1, size_.get());
}

void Document::Free::operator()(_xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }

}  // namespace morvi::zorbel::xml
