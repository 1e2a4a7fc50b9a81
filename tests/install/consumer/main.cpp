// A framework-side program built against the installed package.
#include <iostream>

#include "morvi/reporter/trialkit.hpp"

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
}
