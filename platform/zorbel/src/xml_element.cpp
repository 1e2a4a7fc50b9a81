// Element handles, and documents over libxml2.
#include <libxml/tree.h>

#include <cstring>
#include <new>
#include <string>

#include "builder.hpp"
#include "morvi/errors.hpp"
#include "morvi/utils/xml_chars.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {
namespace {

const xmlChar* chars(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Every text reaches a document through here, so no value can make it unreadable: what XML
// cannot carry (NUL, other control characters, bytes that are not UTF-8) is written in the
// notation the escaping of report values uses. The scan leaves valid text untouched and
// uncopied.
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

xmlNode* node_of(std::uintptr_t node) { return reinterpret_cast<xmlNode*>(node); }

}  // namespace

Element Element::append_child(const char* tag) const {
  if (depth_ >= kMaxDepth) {
    throw ArgumentError("XML elements nest deeper than the limit of " +
                        std::to_string(kMaxDepth) + " levels (at <" + tag + "> inside <" +
                        std::string(this->tag()) + ">)");
  }
  return Element(builder_, builder_->append_child(node_, depth_, tag), depth_ + 1);
}

void Element::set_text(std::string_view given) const {
  std::string storage;
  const std::string_view text = carried(given, storage);
  if (!text.empty()) builder_->add_text(node_, depth_, text);
}

void Element::set_attribute(const char* name, std::string_view given) const {
  std::string storage;
  builder_->set_attribute(node_, depth_, name, carried(given, storage));
}

std::string_view Element::tag() const { return builder_->tag(node_, depth_); }

class Document::Tree final : public Builder {
 public:
  explicit Tree(const char* root_tag) : doc(xmlNewDoc(chars("1.0"))) {
    if (doc == nullptr) throw std::bad_alloc();
    doc->dict = xmlDictCreate();
    xmlNode* root = xmlNewDocNode(doc, nullptr, chars(root_tag), nullptr);
    if (doc->dict == nullptr || root == nullptr) {
      xmlFreeNode(root);
      xmlFreeDoc(doc);
      throw std::bad_alloc();
    }
    xmlDocSetRootElement(doc, root);
  }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;
  ~Tree() override { xmlFreeDoc(doc); }

  std::uintptr_t append_child(std::uintptr_t node, int, const char* tag) override {
    xmlNode* child = xmlNewChild(node_of(node), nullptr, chars(tag), nullptr);
    if (child == nullptr) throw std::bad_alloc();
    size += 2 * std::strlen(tag) + 5;  // <tag></tag>
    return reinterpret_cast<std::uintptr_t>(child);
  }

  void add_text(std::uintptr_t node, int, std::string_view text) override {
    size += text.size();
    xmlNode* child = new_text(doc, text);
    if (xmlAddChild(node_of(node), child) == nullptr) {
      xmlFreeNode(child);
      throw std::bad_alloc();
    }
  }

  void set_attribute(std::uintptr_t node, int, const char* name,
                     std::string_view value) override {
    xmlNode* element = node_of(node);
    size += std::strlen(name) + value.size() + 4;  // space, name, ="value"
    if (xmlHasProp(element, chars(name)) != nullptr) {
      xmlSetProp(element, chars(name), chars(std::string(value).c_str()));
      return;
    }
    xmlAttr* attr = xmlNewProp(element, chars(name), nullptr);
    if (attr == nullptr) throw std::bad_alloc();
    xmlNode* text = new_text(doc, value);
    text->parent = reinterpret_cast<xmlNode*>(attr);
    attr->children = text;
    attr->last = text;
  }

  std::string_view tag(std::uintptr_t node, int) const override {
    return reinterpret_cast<const char*>(node_of(node)->name);
  }

  xmlDoc* doc;
  std::size_t size = 64;
};

Document::Document(const char* root_tag) : tree_(std::make_unique<Tree>(root_tag)) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Element Document::root() const noexcept {
  return Element(tree_.get(), reinterpret_cast<std::uintptr_t>(xmlDocGetRootElement(tree_->doc)),
                 1);
}

_xmlDoc* Document::native() const noexcept { return tree_->doc; }

std::size_t Document::estimated_size() const noexcept { return tree_->size; }

}  // namespace morvi::zorbel::xml
