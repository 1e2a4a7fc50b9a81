#include "render.hpp"

#include <deque>
#include <utility>
#include <vector>

#include "morvi/results.hpp"

namespace morvi::zorbel::render {
namespace {

const char* type_name(const Value& v) {
  switch (v.kind()) {
    case Kind::None: return "none";
    case Kind::Bool: return "bool";
    case Kind::Int: return "int";
    case Kind::Float: return "float";
    case Kind::Text: return "text";
    case Kind::List: return "list";
    case Kind::Tuple: return "tuple";
    case Kind::Map:
    case Kind::AttrMap: return "map";
    case Kind::DateTime: return "datetime";
    case Kind::Result: return "result";
    case Kind::Tally: return "tally";
    case Kind::Node: return "node";
    case Kind::Error: return "error";
    case Kind::Opaque: break;
  }
  return "object";
}

}  // namespace

xml::Element text_child(const xml::Element& parent, const char* tag, std::string_view text) {
  xml::Element child = parent.append_child(tag);
  child.set_text(text);
  return child;
}

void time_child(const xml::Element& parent, const char* tag, const Time& time) {
  text_child(parent, tag, time ? iso_time(*time) : std::string());
}

void runtime_child(const xml::Element& parent, const std::optional<std::int64_t>& runtime) {
  text_child(parent, "runTime", runtime ? std::to_string(*runtime) : std::string());
}

void times(const xml::Element& parent, const Timed& timed) {
  time_child(parent, "startTime", timed.starttime);
  time_child(parent, "stopTime", timed.stoptime);
  runtime_child(parent, timed.runtime);
}

void data(const xml::Element& element, const Value& value) {
  // Nested data is walked with a work list, never by recursion, and in document order, as a
  // text writer takes it. A tally is written through its counts map, which must outlive the
  // walk.
  struct Open {
    xml::Element element;
    const Map* map;  // the entries of a map or a tally, or
    const List* list;  // the elements of a list or tuple
    std::size_t next;
  };
  std::deque<Map> tallies;
  std::vector<Open> open;
  const auto start = [&open, &tallies](const xml::Element& el, const Value& v) {
    el.set_attribute("type", type_name(v));
    if (v.is_map()) {
      open.push_back({el, &v.as_map(), nullptr, 0});
    } else if (v.is_sequence()) {
      open.push_back({el, nullptr, &v.as_list(), 0});
    } else if (v.is_tally()) {
      open.push_back({el, &tallies.emplace_back(v.as_tally().data()), nullptr, 0});
    } else {
      with_text(v, [&el](std::string_view text) { el.set_text(text); });
    }
  };
  start(element, value);
  while (!open.empty()) {
    Open& top = open.back();
    const std::size_t size = top.map ? top.map->size() : top.list->size();
    if (top.next == size) {
      open.pop_back();
      continue;
    }
    const std::size_t i = top.next++;
    const xml::Element child = top.element.append_child("item");
    if (top.map) {
      const auto& [key, item] = *(top.map->begin() + static_cast<std::ptrdiff_t>(i));
      child.set_attribute("key", key);
      start(child, item);
    } else {
      start(child, (*top.list)[i]);
    }
  }
}

void items(const xml::Element& element, const Map& map) {
  for (const auto& [key, item] : map) {
    xml::Element child = element.append_child("item");
    child.set_attribute("key", key);
    data(child, item);
  }
}

void xref(const xml::Element& parent, const Xref& xref) {
  xml::Element el = parent.append_child("xref");
  attribute(el, "file", xref.file);
  attribute(el, "line", xref.line);
}

namespace {

// The name in `as_attributes` that `key` is, or null.
const char* attribute_name(std::string_view key, std::initializer_list<const char*> as_attributes) {
  for (const char* name : as_attributes) {
    if (key == name) return name;
  }
  return nullptr;
}

// Writes the items named in `as_attributes` as attributes (their text form), in map order, and
// then every other item as an `item` child.
void attributes_and_items(const xml::Element& element, const Map& map,
                          std::initializer_list<const char*> as_attributes) {
  for (const auto& [key, value] : map) {
    if (const char* name = attribute_name(key, as_attributes)) attribute(element, name, value);
  }
  for (const auto& [key, value] : map) {
    if (attribute_name(key, as_attributes) != nullptr) continue;
    xml::Element child = element.append_child("item");
    child.set_attribute("key", key);
    data(child, value);
  }
}

}  // namespace

void logfile(const xml::Element& parent, const LogFile& logfile) {
  xml::Element el = parent.append_child("logFile");
  attribute(el, "path", logfile.filepath);
  attributes_and_items(el, logfile.attrs, {"begin", "size"});
}

void identifier(const xml::Element& parent, const Identifier& id) {
  xml::Element el = parent.append_child("id");
  attribute(el, "idTypeValue", id.idtypevalue);
  attributes_and_items(el, id.attrs, {"name"});
}

void result(const xml::Element& parent, const Result& result) {
  text_child(parent, "result", result.value);
}

void runinfo(const xml::Element& parent, const RunInfo& runinfo) {
  xml::Element el = parent.append_child("runInfo");
  for (const std::string& diag : runinfo.diags()) text_child(el, "diag", diag);
}

void extra(const xml::Element& parent, const Map& extra) {
  items(parent.append_child("extra"), extra);
}

}  // namespace morvi::zorbel::render
