// The compact form written as a document is built, in document order, with no tree behind it:
// only the open elements are remembered, and the start tag being written, whose attributes can
// still change.
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "builder.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {

class TextWriter::Stream final : public Builder {
 public:
  Stream(const char* root_tag, Sink sink, std::size_t piece)
      : sink_(std::move(sink)), piece_(piece) {
    out_.append(kDeclaration);
    open(root_tag);
  }

  std::uintptr_t root() const noexcept { return 1; }

  std::uintptr_t append_child(std::uintptr_t node, int depth, const char* tag) override {
    begin_content(reach(node, depth));
    if (sink_ && out_.size() >= piece_) hand_over();
    return open(tag);
  }

  void add_text(std::uintptr_t node, int depth, std::string_view text) override {
    begin_content(reach(node, depth));
    append_escaped_text(out_, text);
  }

  void set_attribute(std::uintptr_t node, int depth, const char* name,
                     std::string_view value) override {
    if (reach(node, depth).has_content) {
      throw std::logic_error(std::string("the attribute ") + name + " of <" +
                             std::string(tag_of(open_.back())) +
                             "> comes after the element's content");
    }
    for (std::size_t i = 0; i < attributes_.size(); ++i) {
      if (attributes_[i].name == name) return replace(i, value);
    }
    out_.append(' ');
    out_.append(name);
    out_.append("=\"");
    const std::size_t begin = out_.size();
    append_escaped_attribute(out_, value);
    attributes_.push_back({name, begin, out_.size()});
    out_.append('"');
  }

  std::string_view tag(std::uintptr_t node, int depth) const override {
    return tag_of(find(node, depth));
  }

  utils::DocumentBuffer finish() {
    while (!open_.empty()) close();
    if (sink_) {
      sink_(out_.view());
      out_.truncate(0);
    }
    return std::move(out_);
  }

 private:
  struct Open {
    std::uintptr_t id;
    std::size_t tag_begin;  // in tags_
    std::size_t tag_size;
    bool has_content;  // its start tag is closed: text or child elements follow
  };
  // An attribute of the start tag being written: its name, and where its value's escaped
  // text lies in the output.
  struct Attribute {
    std::string name;
    std::size_t begin;
    std::size_t end;
  };

  std::string_view tag_of(const Open& element) const {
    return std::string_view(tags_).substr(element.tag_begin, element.tag_size);
  }

  const Open& find(std::uintptr_t node, int depth) const {
    const auto level = static_cast<std::size_t>(depth);
    if (level == 0 || level > open_.size() || open_[level - 1].id != node) {
      throw std::logic_error(
          "an XML element is written to after it was closed: a text writer takes its "
          "elements in document order");
    }
    return open_[level - 1];
  }

  // The element named, once every element opened inside it is closed.
  Open& reach(std::uintptr_t node, int depth) {
    find(node, depth);
    while (open_.size() > static_cast<std::size_t>(depth)) close();
    return open_.back();
  }

  std::uintptr_t open(const char* tag) {
    const std::size_t size = std::strlen(tag);
    out_.append('<');
    out_.append(std::string_view(tag, size));
    open_.push_back({++last_id_, tags_.size(), size, false});
    tags_.append(tag, size);
    attributes_.clear();
    return last_id_;
  }

  void begin_content(Open& element) {
    if (element.has_content) return;
    out_.append('>');
    element.has_content = true;
  }

  void close() {
    const Open& element = open_.back();
    if (element.has_content) {
      out_.append("</");
      out_.append(tag_of(element));
      out_.append('>');
    } else {
      out_.append("/>");
    }
    tags_.resize(element.tag_begin);
    open_.pop_back();
  }

  // Hands the text up to its last '>' to the sink and keeps the rest, a text that the next tag
  // ends. Called as a tag begins, when no start tag is open, so no attribute can move.
  void hand_over() {
    const std::string_view text = out_.view();
    const std::size_t last = text.rfind('>');
    if (last == std::string_view::npos) return;
    const std::size_t end = last + 1;
    sink_(text.substr(0, end));
    const std::string rest(text.substr(end));
    out_.truncate(0);
    out_.append(rest);
  }

  // Sets an attribute of the start tag being written again, in its place.
  void replace(std::size_t i, std::string_view value) {
    const std::size_t old_end = attributes_[i].end;
    const std::string after(out_.view().substr(old_end));
    out_.truncate(attributes_[i].begin);
    append_escaped_attribute(out_, value);
    const std::size_t end = out_.size();
    out_.append(after);
    attributes_[i].end = end;
    for (std::size_t j = i + 1; j < attributes_.size(); ++j) {
      attributes_[j].begin = attributes_[j].begin - old_end + end;
      attributes_[j].end = attributes_[j].end - old_end + end;
    }
  }

  Sink sink_;
  std::size_t piece_;
  utils::DocumentBuffer out_;
  std::vector<Open> open_;
  std::string tags_;  // the names of the open elements, one after another
  std::vector<Attribute> attributes_;
  std::uintptr_t last_id_ = 0;
};

TextWriter::TextWriter(const char* root_tag)
    : stream_(std::make_unique<Stream>(root_tag, Sink(), 0)) {}
TextWriter::TextWriter(const char* root_tag, Sink sink, std::size_t piece)
    : stream_(std::make_unique<Stream>(root_tag, std::move(sink), piece)) {}
TextWriter::TextWriter(TextWriter&&) noexcept = default;
TextWriter& TextWriter::operator=(TextWriter&&) noexcept = default;
TextWriter::~TextWriter() = default;

Element TextWriter::root() const noexcept { return Element(stream_.get(), stream_->root(), 1); }

utils::DocumentBuffer TextWriter::finish() { return stream_->finish(); }

}  // namespace morvi::zorbel::xml
