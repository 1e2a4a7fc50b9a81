#include "morvi/service/html_report/report.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "collect.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "page.hpp"

namespace morvi::service::html_report {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ReportCounts write_html_report(const std::string& input, const std::string& output) {
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(input.c_str(), "rb"));
  if (!in) throw std::system_error(errno, std::generic_category(), "cannot open " + input);
  // Everything is read before the output is opened: bad input leaves no file behind.
  const ReportData data = collect(in.get(), input);
  in.reset();

  morvi::utils::AtomicFile out(output);
  try {
    write_page(out.stream(), data, std::filesystem::path(input).filename().string());
  } catch (const std::system_error& e) {
    throw std::system_error(e.code(), "cannot write " + output);
  }
  ReportCounts counts;
  counts.nodes = data.nodes.size();
  counts.failures = data.failures.size();
  counts.bytes = static_cast<std::size_t>(std::ftell(out.stream()));
  out.commit();
  return counts;
}

}  // namespace morvi::service::html_report
