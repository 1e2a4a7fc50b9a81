// The sections of a test script: common sections and their subsections, testcases and their
// sections, and steps nested to any depth. Every handler runs the shared steps (times,
// cross-reference, log file, result, details, extra data) around its own, then walks the
// section's subtree with a work list: each child is created by its parent's factory, filled,
// and its own children handled before the next sibling, as a recursive walk would.
#include <string>
#include <vector>

#include "fields.hpp"
#include "morvi/reporter/markfolio.hpp"

namespace morvi::reporter::markfolio {
namespace {

// The level of a legacy object decides what its children become.
enum class Level { common, testcase, testsection, subsection, step };

// The section's id; for a section whose type ends with "Processor", its id and its name
// joined by one space.
Value section_identifier(const Node& section) {
  const Value& type = section.type();
  if (type.is_text() && type.as_text().ends_with("Processor")) {
    return Value(section.id().to_text() + " " +
                 fields::required(section, "name")->to_text());
  }
  return section.id();
}

std::string escaped_description(const Node& section, const trialkit::FieldRef& description) {
  return fields::escaped(section, "the description", *description);
}

void copy_xref(zorbel::Xref& xref, const Node& section) {
  const Map& map = fields::optional_map(section, "xref");
  xref.file = fields::entry_or(map, "file", "");
  xref.line = fields::entry_or(map, "line", -1);
}

void copy_logfile(zorbel::LogFile& logfile, const Node& section) {
  const Map& logs = fields::optional_map(section, "logs");
  logfile.filepath = fields::entry_or(logs, "file", "");
  logfile.attrs.reserve(logfile.attrs.size() + 2);
  logfile.attrs.set("begin", fields::entry_or(logs, "begin", -1));
  logfile.attrs.set("size", fields::entry_or(logs, "size", -1));
}

// Result, details: the shared steps after the log file.
template <class Legacy>
void copy_result_and_details(Legacy& legacy, const Node& section) {
  if (const auto result = section.field("result"); result && !result->is_none()) {
    legacy.result.value = result->to_text();
  }
  for (const Value& detail : section.details()) {
    legacy.runinfo.set_args({.diag = fields::escaped(section, "a detail", detail)});
  }
}

void merge_extra(Map& target, Map escaped) {
  for (auto& [key, value] : escaped) target.set(key, std::move(value));
}

template <class Legacy>
void copy_shared_tail(Legacy& legacy, const Node& section) {
  copy_xref(legacy.xref, section);
  copy_logfile(legacy.logfile, section);
  copy_result_and_details(legacy, section);
  merge_extra(legacy.extra, escape_data(section.extra()));
}

// A common section and a section of a testcase are filled alike.
void fill_section(zorbel::TestSection& legacy, const Node& section) {
  fields::copy_times(legacy, section);
  if (const auto d = section.field("description"); fields::present(d)) {
    legacy.extra.set("description", escaped_description(section, d));
  }
  copy_shared_tail(legacy, section);
}

void fill_testcase(zorbel::TestResult& legacy, const Node& section) {
  fields::copy_times(legacy, section);
  zorbel::TestResult::InitInfo& info = legacy.initinfo;
  info.id.attrs.set("name", section.id());
  info.id.idtypevalue = section.id();
  info.name = *fields::required(section, "name");
  info.swversion = info.hwversion = info.fwversion = info.tstversion = Value("None");
  if (const auto d = section.field("description"); fields::present(d)) {
    info.description = escaped_description(section, d);
  }
  copy_xref(info.xref, section);
  copy_logfile(info.logfile, section);
  copy_result_and_details(legacy, section);
  merge_extra(legacy.extra, escape_data(section.extra()));
}

void fill_subsection(zorbel::CommonSubSection& legacy, const Node& section) {
  fields::copy_times(legacy, section);
  const Value identifier = section_identifier(section);
  legacy.id.attrs.set("name", identifier);
  legacy.id.idtypevalue = identifier;
  legacy.name = *fields::required(section, "name");
  if (const auto d = section.field("description"); fields::present(d)) {
    legacy.description = escaped_description(section, d);
  }
  copy_shared_tail(legacy, section);
}

void fill_step(zorbel::TestStep& legacy, const Node& section) {
  fields::copy_times(legacy, section);
  const auto d = section.field("description");
  legacy.description = fields::present(d) ? *d : Value("");
  copy_xref(legacy.xref, section);
  copy_logfile(legacy.logfile, section);
  copy_result_and_details(legacy, section);
  // "index" and "continue_" are the step's own members, not extra data.
  const Map& extra = section.extra();
  if (const Value* index = extra.find("index")) legacy.index = *index;
  if (const Value* go_on = extra.find("continue_")) legacy.continue_ = *go_on;
  merge_extra(legacy.extra, escape_data(extra, {"index", "continue_"}));
}

// A step's factory arguments: its identifier and its escaped name.
zorbel::TestStepArgs step_args(const Node& section) {
  return {.id = section_identifier(section),
          .name = fields::escaped(section, "the name", *fields::required(section, "name"))};
}

struct Frame {
  Level level;
  zorbel::Entry* legacy;
  const Node* section;
  std::size_t next;
};

template <class Owner>
Frame add_step(const Frame& parent, const Node& section) {
  auto& child = static_cast<Owner&>(*parent.legacy).add_teststep(step_args(section));
  fill_step(child, section);
  return {Level::step, &child, &section, 0};
}

// Creates the legacy child of `parent` for `section` and fills it.
Frame create_child(const Frame& parent, const Node& section) {
  switch (parent.level) {
    case Level::common: {
      auto& common = static_cast<zorbel::TestSection&>(*parent.legacy);
      auto& child = common.add_commonsubsection({.name = *fields::required(section, "name")});
      fill_subsection(child, section);
      return {Level::subsection, &child, &section, 0};
    }
    case Level::testcase: {
      auto& testcase = static_cast<zorbel::TestResult&>(*parent.legacy);
      auto& child = testcase.add_testsection({.sectionid = section_identifier(section)});
      fill_section(child, section);
      return {Level::testsection, &child, &section, 0};
    }
    case Level::testsection: return add_step<zorbel::TestSection>(parent, section);
    case Level::subsection: return add_step<zorbel::CommonSubSection>(parent, section);
    case Level::step: break;
  }
  return add_step<zorbel::TestStep>(parent, section);
}

void copy_subtree(Level level, zorbel::Entry& legacy, const Node& section) {
  std::vector<Frame> stack{{level, &legacy, &section, 0}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const List& children = frame.section->children();
    if (frame.next == children.size()) {
      stack.pop_back();
      continue;
    }
    const Node& child = trialkit::node_of(children[frame.next++]);
    const Frame next = create_child(frame, child);
    stack.push_back(next);
  }
}

}  // namespace

zorbel::TestSection& MarkFolio::_handle_commonsection(zorbel::TestSection& legacy,
                                                      const Node& section) {
  fill_section(legacy, section);
  copy_subtree(Level::common, legacy, section);
  return legacy;
}

zorbel::TestResult& MarkFolio::_handle_testcase(zorbel::TestResult& legacy, const Node& section) {
  fill_testcase(legacy, section);
  copy_subtree(Level::testcase, legacy, section);
  return legacy;
}

zorbel::TestSection& MarkFolio::_handle_testsection(zorbel::TestSection& legacy,
                                                    const Node& section) {
  fill_section(legacy, section);
  copy_subtree(Level::testsection, legacy, section);
  return legacy;
}

zorbel::CommonSubSection& MarkFolio::_handle_subsection(zorbel::CommonSubSection& legacy,
                                                        const Node& section) {
  fill_subsection(legacy, section);
  copy_subtree(Level::subsection, legacy, section);
  return legacy;
}

zorbel::TestStep& MarkFolio::_handle_step(zorbel::TestStep& legacy, const Node& section) {
  fill_step(legacy, section);
  copy_subtree(Level::step, legacy, section);
  return legacy;
}

}  // namespace morvi::reporter::markfolio
