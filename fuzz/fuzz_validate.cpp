// `morvi validate results` on arbitrary files: it accepts the document, lists its problems,
// or fails with one clean error line; never a crash.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "morvi/cli/program.hpp"
#include "morvi/reporter/commands.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path& scratch_file() {
  static const fs::path file = [] {
    std::string tmpl = (fs::temp_directory_path() / "morvi-fuzz-validate-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    return fs::path(tmpl) / "results.json";
  }();
  return file;
}

std::size_t lines(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path& file = scratch_file();
  {
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::ostringstream out, err;
  morvi::cli::Program morvi("morvi", "fuzzing", out, err);
  morvi.add_group("validate", "validate files", "Validates files.")
      .add<morvi::reporter::commands::ValidateResultsFile>();
  const std::string path = file.string();
  const char* argv[] = {"morvi", "validate", "results", path.c_str()};
  const int status = morvi.main(4, argv);
  if (status == 0) {
    if (out.str() != path + " accepted\n" || !err.str().empty()) std::abort();
  } else if (!out.str().empty()) {
    // Schema problems: listed on standard output, nothing on the error stream.
    if (!err.str().empty()) std::abort();
  } else if (lines(err.str()) != 1) {
    std::abort();
  }
  return 0;
}
