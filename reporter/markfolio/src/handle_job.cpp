// The upper levels of the mapping: the job, its job execution and one test script per task.
#include <memory>
#include <string>
#include <string_view>

#include "fields.hpp"
#include "morvi/reporter/markfolio.hpp"

namespace morvi::reporter::markfolio {
namespace {

// The part after the last slash.
std::string base_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The part before the last slash, trailing slashes dropped unless it is all slashes; empty
// when there is no slash.
std::string dir_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view head = path.substr(0, slash + 1);
  if (head.find_first_not_of('/') == std::string_view::npos) return std::string(head);
  while (head.back() == '/') head.remove_suffix(1);
  return std::string(head);
}

bool type_is(const Node& node, std::string_view type) {
  return node.type().is_text() && node.type().as_text() == type;
}

}  // namespace

zorbel::TrialKit& MarkFolio::_handle_trialkit(zorbel::TrialKit& legacy, const Node& trialkit) {
  fields::copy_times(legacy, trialkit);
  legacy.initinfo.jobid = trialkit.id();
  legacy.initinfo.name = *fields::required(trialkit, "name");
  if (const auto archive = trialkit.field("archivefile"); fields::present(archive)) {
    legacy.archivefile = *archive;
  }
  const Map& extra = trialkit.extra();
  if (const Value* v = extra.find("testbed")) legacy.initinfo.testbed = *v;
  if (const Value* v = extra.find("release")) legacy.initinfo.release = *v;
  if (const Value* v = extra.find("image")) legacy.initinfo.image = *v;
  if (const auto v = trialkit.field("submitter"); fields::present(v)) legacy.initinfo.submitter = *v;
  if (const auto v = trialkit.field("user"); fields::present(v)) legacy.initinfo.user = *v;
  if (const auto v = trialkit.field("host"); fields::present(v)) legacy.initinfo.hosts.append(*v);
  if (const auto v = trialkit.field("cli"); fields::present(v)) legacy.initinfo.params.cli = *v;
  if (const auto v = trialkit.field("morvipath"); fields::present(v)) legacy.initinfo.oxa.path = *v;
  if (const auto v = trialkit.field("morviversion"); fields::present(v)) {
    legacy.initinfo.oxa.version = *v;
  }
  legacy.summary.update(*fields::required(trialkit, "summary"));
  for (const Value& detail : trialkit.details()) {
    legacy.runinfo.set_args({.diag = fields::escaped(trialkit, "a detail", detail)});
  }
  if (const Value* lumo = extra.find("lumo")) {
    if (!lumo->is_map()) {
      throw TypeError(fields::describe(trialkit) + ": the extra entry 'lumo' is a " +
                      lumo->kind_name() + ", not a map");
    }
    const Map& entry = lumo->as_map();
    zorbel::Lumo::Args args;
    if (const Value* v = entry.find("dnsname")) args.dnsname = *v;
    if (const Value* v = entry.find("attributes")) args.attributes = *v;
    Map post;
    for (std::string_view key : {"status", "cmd", "error"}) {
      if (const Value* v = entry.find(key)) post.set(key, *v);
    }
    if (!post.empty()) args.post = std::move(post);
    legacy.lumo.set_args(std::move(args));
  }
  _handle_jobexecution(legacy.jobexecution, trialkit);
  return legacy;
}

zorbel::JobExecution& MarkFolio::_handle_jobexecution(zorbel::JobExecution& legacy,
                                                      const Node& trialkit) {
  fields::copy_times(legacy, trialkit);
  for (const Value& entry : trialkit.children()) {
    const Node& task = trialkit::node_of(entry);
    auto script = std::make_unique<zorbel::TestScript>(task.field_or_none("logfile"), Value());
    zorbel::TestScript& attached = legacy.add_testscript(std::move(script), task.id());
    _handle_testscript(attached, task);
  }
  return legacy;
}

zorbel::TestScript& MarkFolio::_handle_testscript(zorbel::TestScript& legacy, const Node& task) {
  fields::copy_times(legacy, task);
  if (const auto v = task.field("parameters"); fields::present(v)) {
    legacy.initinfo.pargs = escape(v->to_text());
  }
  if (const auto v = task.field("description"); fields::present(v)) {
    legacy.initinfo.description = fields::escaped(task, "the description", *v);
  }
  if (const auto v = task.field("logfile"); fields::present(v)) {
    legacy.initinfo.logfile.filepath = *v;
  }
  if (const auto v = task.field("testscript"); fields::present(v)) {
    if (!v->is_text()) {
      throw TypeError(fields::describe(task) + ": testscript is a " + v->kind_name() +
                      ", not a path");
    }
    legacy.initinfo.script.name = base_name(v->as_text());
    legacy.initinfo.script.path = dir_name(v->as_text());
  }
  legacy.summary.update(*fields::required(task, "summary"));
  for (const Value& detail : task.details()) {
    legacy.runinfo.set_args({.diag = fields::escaped(task, "a detail", detail)});
  }
  for (const Value& entry : task.children()) {
    const Node& section = trialkit::node_of(entry);
    if (type_is(section, "CommonSetup")) {
      _handle_commonsection(legacy.add_testsection({.sectionid = "commonSetup"}), section);
    } else if (type_is(section, "CommonCleanup")) {
      _handle_commonsection(legacy.add_testsection({.sectionid = "commonCleanup"}), section);
    } else {
      Value logfilepath = "";
      if (const auto logs = section.field("logs"); fields::present(logs)) {
        logfilepath = fields::entry_or(fields::optional_map(section, "logs"), "file", "");
      }
      _handle_testcase(legacy.add_testcase({.tcid = section.id(), .logfilepath = logfilepath}),
                       section);
    }
  }
  return legacy;
}

}  // namespace morvi::reporter::markfolio
