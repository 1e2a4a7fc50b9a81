#include "morvi/zorbel/testscript.hpp"

#include "render.hpp"

namespace morvi::zorbel {

TestScript::TestScript(Value logfile, Value id) : id(std::move(id)) {
  initinfo.logfile.filepath = std::move(logfile);
}

TestSection& TestScript::add_testsection(TestSectionArgs args) {
  return attach(std::make_unique<TestSection>(std::move(args.sectionid)));
}

TestResult& TestScript::add_testcase(TestCaseArgs args) {
  return attach(std::make_unique<TestResult>(std::move(args.tcid), std::move(args.logfilepath)));
}

void TestScript::render_fields(const xml::Element& element) const {
  render::attribute(element, "id", id);
  xml::Element info = element.append_child("initInfo");
  render::value_child(info, "pargs", initinfo.pargs);
  render::value_child(info, "description", initinfo.description);
  render::logfile(info, initinfo.logfile);
  xml::Element script = info.append_child("script");
  render::attribute(script, "name", initinfo.script.name);
  render::attribute(script, "path", initinfo.script.path);
  render::times(element, *this);
  summary.generate_resultsonly_dom(element);
  render::runinfo(element, runinfo);
}

CommonSubSection& TestSection::add_commonsubsection(CommonSubSectionArgs args) {
  return attach(std::make_unique<CommonSubSection>(std::move(args.name)));
}

TestStep& TestSection::add_teststep(TestStepArgs args) {
  return attach(std::make_unique<TestStep>(std::move(args.id), std::move(args.name)));
}

void TestSection::render_fields(const xml::Element& element) const {
  render::attribute(element, "sectionId", sectionid);
  render::times(element, *this);
  render::xref(element, xref);
  render::logfile(element, logfile);
  render::result(element, result);
  render::runinfo(element, runinfo);
  render::extra(element, extra);
}

TestSection& TestResult::add_testsection(TestSectionArgs args) {
  return attach(std::make_unique<TestSection>(std::move(args.sectionid)));
}

void TestResult::render_fields(const xml::Element& element) const {
  render::attribute(element, "tcid", tcid);
  render::attribute(element, "logfilePath", logfilepath);
  xml::Element info = element.append_child("initInfo");
  render::identifier(info, initinfo.id);
  render::value_child(info, "name", initinfo.name);
  render::value_child(info, "swVersion", initinfo.swversion);
  render::value_child(info, "hwVersion", initinfo.hwversion);
  render::value_child(info, "fwVersion", initinfo.fwversion);
  render::value_child(info, "tstVersion", initinfo.tstversion);
  render::value_child(info, "description", initinfo.description);
  render::xref(info, initinfo.xref);
  render::logfile(info, initinfo.logfile);
  render::times(element, *this);
  render::result(element, result);
  render::runinfo(element, runinfo);
  render::extra(element, extra);
}

TestStep& CommonSubSection::add_teststep(TestStepArgs args) {
  return attach(std::make_unique<TestStep>(std::move(args.id), std::move(args.name)));
}

void CommonSubSection::render_fields(const xml::Element& element) const {
  render::attribute(element, "name", name);
  render::identifier(element, id);
  render::value_child(element, "description", description);
  render::times(element, *this);
  render::xref(element, xref);
  render::logfile(element, logfile);
  render::result(element, result);
  render::runinfo(element, runinfo);
  render::extra(element, extra);
}

TestStep& TestStep::add_teststep(TestStepArgs args) {
  return attach(std::make_unique<TestStep>(std::move(args.id), std::move(args.name)));
}

void TestStep::render_fields(const xml::Element& element) const {
  render::attribute(element, "id", id);
  render::attribute(element, "name", name);
  render::value_child(element, "description", description);
  if (!index.is_none()) render::data(element.append_child("index"), index);
  if (!continue_.is_none()) render::data(element.append_child("continue"), continue_);
  render::times(element, *this);
  render::xref(element, xref);
  render::logfile(element, logfile);
  render::result(element, result);
  render::runinfo(element, runinfo);
  render::extra(element, extra);
}

}  // namespace morvi::zorbel
