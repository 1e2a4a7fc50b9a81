// A framework-side program built against the installed package.
#include <iostream>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/zorbel/xml.hpp"

int main() {
  using namespace morvi::reporter::trialkit;
  auto job = TrialKit::create("job", 1);
  auto task = job->add_task("t1", 1);
  auto testcase = task->add_section("tc", 1, "Testcase");
  task->start();
  testcase->start();
  testcase->stop(morvi::Map{{"result", morvi::results::Passed}});
  task->stop();
  std::cout << testcase->fullid().to_text() << ' ' << task->result().to_text() << '\n';
  // The element trees need none of libxml2's headers.
  const morvi::zorbel::xml::Document doc("report");
  doc.root().set_attribute("job", "job");
  std::cout << morvi::zorbel::xml::to_bytes(doc).view() << '\n';
}
