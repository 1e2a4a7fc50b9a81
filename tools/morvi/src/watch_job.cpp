#include "watch_job.hpp"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>

#include "morvi/printable.hpp"
#include "morvi/service/clients/socket_client.hpp"

namespace morvi::tools {
namespace {

using Clock = std::chrono::steady_clock;

long long count(const Map& counts, std::string_view name) {
  const Value* n = counts.find(name);
  return n != nullptr && n->is_int() ? n->as_int() : 0;
}

// "events 1200 (350/s)  nodes 40 started 38 stopped  passed 10 failed 1 errored 0  running t1.tc3"
std::string progress_line(const Map& counts, double per_second) {
  const Value* results = counts.find("results");
  const Map none;
  const Map& by_result = results != nullptr && results->is_map() ? results->as_map() : none;
  std::string rate = "-";
  if (std::isfinite(per_second)) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", per_second);
    rate = text;
  }
  const Value* running = counts.find("running_testcase");
  std::string line = "events " + std::to_string(count(counts, "events")) + " (" + rate +
                     "/s)  nodes " + std::to_string(count(counts, "started")) + " started " +
                     std::to_string(count(counts, "stopped")) + " stopped  passed " +
                     std::to_string(count(by_result, "passed")) + " failed " +
                     std::to_string(count(by_result, "failed")) + " errored " +
                     std::to_string(count(by_result, "errored"));
  if (running != nullptr && !running->is_none()) line += "  running " + printable_text(running->to_text());
  return line;
}

}  // namespace

WatchJob::WatchJob(const cli::CommandSetup& setup) : Subcommand(setup) {
  parser.add_argument("--socket", "PATH", Kind::Text, "the reporter server's socket").mandatory();
  parser.add_argument("--interval", "SECONDS", Kind::Float,
                      "time between two readings, more than 0 and at most 3600 (default 1)");
}

cli::Status WatchJob::run(const cli::Arguments& args) {
  const std::string socket(args["socket"].as_text());
  const double interval = args["interval"].is_none() ? 1.0 : args["interval"].as_number();
  if (!(interval > 0 && interval <= 3600)) {
    print_error("argument --interval SECONDS: must be more than 0 and at most 3600, not " +
                args["interval"].to_text());
    return cli::USAGE_ERROR;
  }
  const bool terminal = &out() == &std::cout && ::isatty(STDOUT_FILENO) == 1;
  service::clients::SocketReporterClient server(socket);
  long long last_events = -1;
  Clock::time_point last_time;
  for (;;) {
    Map counts;
    try {
      counts = server.progress();
    } catch (const std::system_error& e) {
      if (terminal) out() << '\n';
      print_error("the reporter server at '" + socket + "' went away before the job finished");
      return cli::ERROR;
    }
    const Clock::time_point now = Clock::now();
    const long long events = count(counts, "events");
    const double seconds = std::chrono::duration<double>(now - last_time).count();
    const double per_second =
        last_events < 0 || seconds <= 0 ? NAN : static_cast<double>(events - last_events) / seconds;
    last_events = events;
    last_time = now;
    const std::string line = progress_line(counts, per_second);
    // On a terminal the line is drawn over the last one: back to its start, then cleared.
    if (terminal)
      out() << "\r\033[K" << line << std::flush;
    else
      out() << line << std::endl;
    const Value* finished = counts.find("finished");
    if (finished != nullptr && finished->truthy()) {
      if (terminal) out() << '\n';
      out() << "the job finished" << std::endl;
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
  }
}

}  // namespace morvi::tools
