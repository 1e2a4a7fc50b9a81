#pragma once
// The legacy objects of one test script: the script, its common sections and testcases, their
// sections, common subsections and steps.
#include <memory>

#include "morvi/value.hpp"
#include "morvi/zorbel/entry.hpp"
#include "morvi/zorbel/parts.hpp"

#pragma GCC visibility push(default)
namespace morvi::zorbel {

class TestSection;
class TestResult;
class CommonSubSection;
class TestStep;

// Keyword arguments of the factories.
struct TestSectionArgs {
  Value sectionid;
};
struct TestCaseArgs {
  Value tcid;
  Value logfilepath;
};
struct CommonSubSectionArgs {
  Value name;
};
struct TestStepArgs {
  Value id;
  Value name;
};

// One run of a test script.
class TestScript : public Entry, public Timed {
 public:
  struct Script {
    Value name;
    Value path;
  };
  struct InitInfo {
    Value pargs;
    Value description;
    LogFile logfile;
    Script script;
  };

  // `logfile` (or none) becomes the script's log-file path; `id` is the script's identifier,
  // none until the job execution attaches the script.
  TestScript(Value logfile, Value id);

  // A common setup or cleanup section ("commonSetup", "commonCleanup").
  TestSection& add_testsection(TestSectionArgs args);
  TestResult& add_testcase(TestCaseArgs args);

  const char* tag() const noexcept override { return "testScript"; }
  void render_fields(const xml::Element& element) const override;

  Value id;
  InitInfo initinfo;
  Summary summary;
  RunInfo runinfo;
};

// A common setup or cleanup section of a script, or a section of a testcase.
class TestSection : public Entry, public Timed {
 public:
  explicit TestSection(Value sectionid) : sectionid(std::move(sectionid)) {}

  CommonSubSection& add_commonsubsection(CommonSubSectionArgs args);
  TestStep& add_teststep(TestStepArgs args);

  const char* tag() const noexcept override { return "testSection"; }
  void render_fields(const xml::Element& element) const override;

  Value sectionid;
  Xref xref;
  LogFile logfile;
  Result result;
  RunInfo runinfo;
  Map extra;
};

// A testcase of a script.
class TestResult : public Entry, public Timed {
 public:
  struct InitInfo {
    Identifier id;
    Value name;
    Value swversion;
    Value hwversion;
    Value fwversion;
    Value tstversion;
    Value description;
    Xref xref;
    LogFile logfile;
  };

  TestResult(Value tcid, Value logfilepath)
      : tcid(std::move(tcid)), logfilepath(std::move(logfilepath)) {}

  TestSection& add_testsection(TestSectionArgs args);

  const char* tag() const noexcept override { return "testCase"; }
  void render_fields(const xml::Element& element) const override;

  Value tcid;
  Value logfilepath;
  InitInfo initinfo;
  Result result;
  RunInfo runinfo;
  Map extra;
};

// A subsection of a common setup or cleanup section.
class CommonSubSection : public Entry, public Timed {
 public:
  explicit CommonSubSection(Value name) : name(std::move(name)) {}

  TestStep& add_teststep(TestStepArgs args);

  const char* tag() const noexcept override { return "commonSubSection"; }
  void render_fields(const xml::Element& element) const override;

  Identifier id;
  Value name;
  Value description;
  Xref xref;
  LogFile logfile;
  Result result;
  RunInfo runinfo;
  Map extra;
};

// A step; steps nest.
class TestStep : public Entry, public Timed {
 public:
  TestStep(Value id, Value name) : id(std::move(id)), name(std::move(name)) {}

  TestStep& add_teststep(TestStepArgs args);

  const char* tag() const noexcept override { return "testStep"; }
  void render_fields(const xml::Element& element) const override;

  Value id;
  Value name;
  Value description;
  // Position and continue-on-failure flag, when the runner gave them.
  Value index;
  Value continue_;
  Xref xref;
  LogFile logfile;
  Result result;
  RunInfo runinfo;
  Map extra;
};

}  // namespace morvi::zorbel
#pragma GCC visibility pop
