#pragma once
// The legacy trialkit: the job, its job execution and its job-wide information.
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "morvi/value.hpp"
#include "morvi/zorbel/entry.hpp"
#include "morvi/zorbel/parts.hpp"
#include "morvi/zorbel/testscript.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

// The hosts the job ran on, in the order added.
class Hosts {
 public:
  void append(Value host) { hosts_.push_back(std::move(host)); }
  std::size_t size() const noexcept { return hosts_.size(); }
  const List& entries() const noexcept { return hosts_; }

  // Appends one `host` element per host to `root`.
  void generate_dom(const xml::Element& root) const;

 private:
  List hosts_;
};

// Link to the lab's device service: set once per job when the runner reported one.
class Lumo {
 public:
  struct Args {
    std::optional<Value> dnsname{};
    std::optional<Value> attributes{};
    std::optional<Map> post{};
  };
  // Records the given arguments; later calls replace the arguments they name.
  void set_args(Args args);

  bool is_set() const noexcept { return set_; }
  const std::optional<Value>& dnsname() const noexcept { return args_.dnsname; }
  const std::optional<Value>& attributes() const noexcept { return args_.attributes; }
  const std::optional<Map>& post() const noexcept { return args_.post; }

 private:
  bool set_ = false;
  Args args_;
};

// The job execution: the test scripts in the order they ran.
class JobExecution : public Entry, public Timed {
 public:
  // Attaches `script` under the identifier `id` and returns it.
  TestScript& add_testscript(std::unique_ptr<TestScript> script, Value id);

  const char* tag() const noexcept override { return "jobExecution"; }
  void render_fields(const xml::Element& element) const override;
};

class TrialKit : public Timed {
 public:
  struct Params {
    Value cli;
  };
  // Where the framework is installed and its version.
  struct Oxa {
    Value path;
    Value version;
  };
  struct InitInfo {
    Value jobid;
    Value name;
    Value testbed;
    Value release;
    Value image;
    Value submitter;
    Value user;
    Hosts hosts;
    Params params;
    Oxa oxa;

    // Appends the element of one simple member ("jobid", "name", "testbed", "release",
    // "image", "submitter", "user") to `root`. LookupError for any other name.
    void generate_simple_elt_dom(const xml::Element& root, std::string_view member) const;
  };

  // Appends the element of one simple member ("archivefile", "starttime", "stoptime",
  // "runtime") to `root`. LookupError for any other name.
  void generate_simple_elt_dom(const xml::Element& root, std::string_view member) const;

  // Writes the trialkit's own fields into `element` (not the job execution).
  void render_fields(const xml::Element& element) const;

  Value archivefile;
  InitInfo initinfo;
  Summary summary;
  RunInfo runinfo;
  Lumo lumo;
  JobExecution jobexecution;
};

}  // namespace morvi::zorbel
#pragma GCC visibility pop
