#include "morvi/zorbel/trialkit.hpp"

#include <array>
#include <string>
#include <utility>

#include "morvi/errors.hpp"
#include "render.hpp"

namespace morvi::zorbel {
namespace {

struct InfoMember {
  std::string_view member;
  const char* tag;
  Value TrialKit::InitInfo::*field;
};
constexpr std::array<InfoMember, 7> kInfoMembers{{
    {"jobid", "jobId", &TrialKit::InitInfo::jobid},
    {"name", "name", &TrialKit::InitInfo::name},
    {"testbed", "testbed", &TrialKit::InitInfo::testbed},
    {"release", "release", &TrialKit::InitInfo::release},
    {"image", "image", &TrialKit::InitInfo::image},
    {"submitter", "submitter", &TrialKit::InitInfo::submitter},
    {"user", "user", &TrialKit::InitInfo::user},
}};

[[noreturn]] void unknown_member(std::string_view owner, std::string_view member) {
  throw LookupError(std::string(owner) + " has no simple member '" + std::string(member) + "'");
}

}  // namespace

void Hosts::generate_dom(const xml::Element& root) const {
  for (const Value& host : hosts_) render::value_child(root, "host", host);
}

void Lumo::set_args(Args args) {
  set_ = true;
  if (args.dnsname) args_.dnsname = std::move(args.dnsname);
  if (args.attributes) args_.attributes = std::move(args.attributes);
  if (args.post) args_.post = std::move(args.post);
}

TestScript& JobExecution::add_testscript(std::unique_ptr<TestScript> script, Value id) {
  script->id = std::move(id);
  return attach(std::move(script));
}

void JobExecution::render_fields(const xml::Element& element) const {
  render::times(element, *this);
}

void TrialKit::InitInfo::generate_simple_elt_dom(const xml::Element& root,
                                                 std::string_view member) const {
  for (const InfoMember& m : kInfoMembers) {
    if (m.member == member) {
      render::value_child(root, m.tag, this->*m.field);
      return;
    }
  }
  unknown_member("the trialkit's initinfo", member);
}

void TrialKit::generate_simple_elt_dom(const xml::Element& root, std::string_view member) const {
  if (member == "archivefile") {
    render::value_child(root, "archiveFilename", archivefile);
  } else if (member == "starttime") {
    render::time_child(root, "startTime", starttime);
  } else if (member == "stoptime") {
    render::time_child(root, "stopTime", stoptime);
  } else if (member == "runtime") {
    render::runtime_child(root, runtime);
  } else {
    unknown_member("the trialkit", member);
  }
}

void TrialKit::render_fields(const xml::Element& element) const {
  xml::Element info = element.append_child("initInfo");
  for (const InfoMember& m : kInfoMembers) initinfo.generate_simple_elt_dom(info, m.member);
  initinfo.hosts.generate_dom(info.append_child("hosts"));
  render::value_child(info, "cli", initinfo.params.cli);
  xml::Element oxa = info.append_child("oxa");
  render::attribute(oxa, "path", initinfo.oxa.path);
  render::attribute(oxa, "version", initinfo.oxa.version);

  for (std::string_view member : {"archivefile", "starttime", "stoptime", "runtime"}) {
    generate_simple_elt_dom(element, member);
  }
  summary.generate_resultsonly_dom(element);
  render::runinfo(element, runinfo);
  if (lumo.is_set()) {
    xml::Element el = element.append_child("lumo");
    if (lumo.dnsname()) render::data(el.append_child("dnsname"), *lumo.dnsname());
    if (lumo.attributes()) render::data(el.append_child("attributes"), *lumo.attributes());
    if (lumo.post()) render::items(el.append_child("post"), *lumo.post());
  }
}

}  // namespace morvi::zorbel
