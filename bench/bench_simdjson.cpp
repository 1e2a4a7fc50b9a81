// The floor for validating a results file: simdjson reading the file and parsing it, with
// nothing checked against the schema. Prints the CPU time of each parse (the file is read
// once); bench/run also times the whole process, which is what `morvi validate results` is
// measured by.
//
//   bench_simdjson FILE [--runs N]
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <simdjson.h>

#include "bench_support.hpp"

namespace {

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 1;
  if (argc == 4 && std::string(argv[2]) == "--runs") {
    runs = std::max(1, morvi::bench::parse_count("bench_simdjson", "--runs", argv[3]));
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: bench_simdjson FILE [--runs N]\n");
    return 2;
  }
  simdjson::padded_string text;
  if (simdjson::padded_string::load(argv[1]).get(text) != simdjson::SUCCESS) {
    std::fprintf(stderr, "bench_simdjson: cannot read %s\n", argv[1]);
    return 1;
  }
  simdjson::dom::parser parser;
  std::vector<double> cpus;
  for (int run = 0; run < runs; ++run) {
    const double begin = cpu_seconds();
    simdjson::dom::element root;
    const simdjson::error_code error = parser.parse(text).get(root);
    cpus.push_back(cpu_seconds() - begin);
    if (error != simdjson::SUCCESS) {
      std::fprintf(stderr, "bench_simdjson: %s: %s\n", argv[1], simdjson::error_message(error));
      return 1;
    }
    std::printf("simdjson parse run %d: cpu %.3f s, %.1f MB/s\n", run + 1, cpus.back(),
                static_cast<double>(text.size()) / 1e6 / cpus.back());
  }
  std::printf("simdjson parse median: cpu %.3f s over %d runs\n", morvi::bench::median(cpus), runs);
  return 0;
}
