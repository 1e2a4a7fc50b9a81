#include "morvi/zorbel/entry.hpp"

namespace morvi::zorbel {

Entry::~Entry() {
  std::vector<std::unique_ptr<Entry>> pending = std::move(entries_);
  while (!pending.empty()) {
    std::unique_ptr<Entry> entry = std::move(pending.back());
    pending.pop_back();
    for (auto& nested : entry->entries_) pending.push_back(std::move(nested));
    entry->entries_.clear();
  }
}

void render_entries(const Entry& top, const xml::Element& element) {
  struct Frame {
    const Entry* entry;
    xml::Element element;
    std::size_t next;
  };
  top.render_fields(element);
  std::vector<Frame> stack{{&top, element, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.entry->entries().size()) {
      stack.pop_back();
      continue;
    }
    const Entry& child = *frame.entry->entries()[frame.next++];
    xml::Element child_element = frame.element.append_child(child.tag());
    child.render_fields(child_element);
    stack.push_back({&child, child_element, 0});
  }
}

}  // namespace morvi::zorbel
