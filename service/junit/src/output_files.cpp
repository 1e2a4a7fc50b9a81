#include "output_files.hpp"

#include <filesystem>
#include <system_error>

namespace morvi::service::junit {

OutputFiles::OutputFiles(std::string path, bool numbered) : path_(std::move(path)), numbered_(numbered) {}

std::string OutputFiles::path_for(std::size_t number) const {
  if (!numbered_) return path_;
  const std::size_t slash = path_.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path_.rfind('.');
  // A leading dot names a hidden file, not an extension.
  if (dot == std::string::npos || dot <= name) dot = path_.size();
  return path_.substr(0, dot) + "-" + std::to_string(number) + path_.substr(dot);
}

void OutputFiles::start() {
  paths_.push_back(path_for(files_.size() + 1));
  files_.push_back(std::make_unique<utils::AtomicFile>(paths_.back()));
  current_ = files_.back().get();
}

void OutputFiles::write(std::string_view bytes) { current_->write(bytes); }

void OutputFiles::finish() {
  current_->close();
  current_ = nullptr;
}

std::vector<std::string> OutputFiles::commit() {
  for (const auto& file : files_) file->commit();
  if (numbered_) {
    for (std::size_t n = files_.size() + 1;; ++n) {
      std::error_code error;
      if (!std::filesystem::remove(path_for(n), error)) break;
    }
  }
  return paths_;
}

}  // namespace morvi::service::junit
