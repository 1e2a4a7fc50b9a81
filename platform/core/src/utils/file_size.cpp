#include <filesystem>
#include <system_error>
#include <utility>

#include "morvi/utils/utils.hpp"

namespace morvi::utils {
namespace {

// Each thread has its own source, as the clock has.
FileSizeSource& current_source() {
  thread_local FileSizeSource source = system_file_size;
  return source;
}

}  // namespace

std::optional<std::int64_t> system_file_size(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  return static_cast<std::int64_t>(size);
}

std::optional<std::int64_t> file_size(const std::string& path) { return current_source()(path); }

ScopedFileSize::ScopedFileSize(FileSizeSource source) : previous_(std::move(current_source())) {
  current_source() = std::move(source);
}

ScopedFileSize::~ScopedFileSize() { current_source() = std::move(previous_); }

}  // namespace morvi::utils
