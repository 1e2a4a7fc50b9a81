#include "morvi/service/html_report/report.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "collect.hpp"
#include "page.hpp"

namespace morvi::service::html_report {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ReportCounts write_html_report(const std::string& input, const std::string& output) {
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(input.c_str(), "rb"));
  if (!in) throw std::system_error(errno, std::generic_category(), input);
  // Everything is read before the output is opened: bad input leaves no file behind.
  const ReportData data = collect(in.get(), input);
  in.reset();

  const std::string temporary = output + ".tmp-" + std::to_string(::getpid());
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(temporary.c_str(), "wb"));
  if (!out) throw std::system_error(errno, std::generic_category(), output);
  try {
    write_page(out.get(), data, std::filesystem::path(input).filename().string());
    if (std::fflush(out.get()) != 0) throw std::system_error(errno, std::generic_category(), output);
    ReportCounts counts;
    counts.nodes = data.nodes.size();
    counts.failures = data.failures.size();
    counts.bytes = static_cast<std::size_t>(std::ftell(out.get()));
    if (std::fclose(out.release()) != 0) throw std::system_error(errno, std::generic_category(), output);
    std::filesystem::rename(temporary, output);
    return counts;
  } catch (...) {
    out.reset();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw;
  }
}

}  // namespace morvi::service::html_report
