#pragma once
// A document written to PATH as it is made: the pieces go to PATH.tmp, which is renamed over
// PATH once the whole document is out. A writer's refusal or a failed write removes PATH.tmp
// and leaves whatever PATH held before.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace morvi::reporter::trialkit::text {

template <typename WriteTo>
void write_through_temporary(const std::string& path, WriteTo&& write_to) {
  const std::string temporary = path + ".tmp";
  try {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) throw std::system_error(errno, std::generic_category(), "cannot open '" + temporary + "'");
    write_to(file);
    file.close();
    if (!file) throw std::system_error(std::make_error_code(std::errc::io_error), "cannot write '" + temporary + "'");
    std::filesystem::rename(temporary, path);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw;
  }
}

}  // namespace morvi::reporter::trialkit::text
