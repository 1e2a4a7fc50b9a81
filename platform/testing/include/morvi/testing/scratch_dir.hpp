#pragma once
// Where tests find the project and keep their files.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace morvi::testing {

inline std::filesystem::path source_dir() { return MORVI_SOURCE_DIR; }
inline std::filesystem::path binary_dir() { return MORVI_BINARY_DIR; }

// A fresh folder for the running test under <build>/test-scratch, named after the test and
// the process (two runs at once never share one), removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = binary_dir() / "test-scratch" / (name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  std::string str() const { return path_.string(); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace morvi::testing
