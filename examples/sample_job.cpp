// The sample job: runs a small job the way the framework's runner does and prints its report
// tree and tallies.
//
//   sample_job OUTPUT_DIR
#include <exception>
#include <iostream>

#include "morvi/reporter/markfolio.hpp"
#include "sample_tree.hpp"
#include "tree_printer.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: sample_job OUTPUT_DIR\n";
    return 2;
  }
  try {
    const auto job = morvi::examples::build_sample_job(argv[1]);
    morvi::examples::print_tree(std::cout, *job);
    std::cout << '\n';
    morvi::examples::print_tallies(std::cout, *job);
    morvi::reporter::markfolio::MarkFolio(argv[1], *job).generate_xml({}, {});
    std::cout << "\nwrote " << argv[1] << "/ResultsDetails.xml and " << argv[1]
              << "/ResultsSummary.xml\n";
  } catch (const std::exception& e) {
    std::cerr << "sample_job: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
