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
  // Nested data is walked with a work list, never by recursion. A tally is written through
  // its counts map, which must outlive the walk.
  std::deque<Map> tallies;
  std::vector<std::pair<xml::Element, const Value*>> pending{{element, &value}};
  auto add_items = [&pending](const xml::Element& el, const Map& map) {
    for (const auto& [key, item] : map) {
      xml::Element child = el.append_child("item");
      child.set_attribute("key", key);
      pending.emplace_back(child, &item);
    }
  };
  while (!pending.empty()) {
    const xml::Element el = pending.back().first;
    const Value* v = pending.back().second;
    pending.pop_back();
    el.set_attribute("type", type_name(*v));
    if (v->is_map()) {
      add_items(el, v->as_map());
    } else if (v->is_sequence()) {
      for (const Value& item : v->as_list()) pending.emplace_back(el.append_child("item"), &item);
    } else if (v->is_tally()) {
      add_items(el, tallies.emplace_back(v->as_tally().data()));
    } else {
      with_text(*v, [&el](std::string_view text) { el.set_text(text); });
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

// Writes the items named in `as_attributes` as attributes (their text form), in map order, and
// every other item as an `item` child.
void attributes_and_items(const xml::Element& element, const Map& map,
                          std::initializer_list<const char*> as_attributes) {
  for (const auto& [key, value] : map) {
    const char* attribute_name = nullptr;
    for (const char* name : as_attributes) {
      if (key == name) attribute_name = name;
    }
    if (attribute_name != nullptr) {
      attribute(element, attribute_name, value);
    } else {
      xml::Element child = element.append_child("item");
      child.set_attribute("key", key);
      data(child, value);
    }
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
