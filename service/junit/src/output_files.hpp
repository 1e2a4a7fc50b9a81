#pragma once
// The JUnit file, or the numbered files an export is split into. Each is written whole to a
// temporary file and closed; only when every one is complete are they all renamed into place,
// so a failed export leaves neither half a file nor part of a set.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "morvi/utils/atomic_file.hpp"

namespace morvi::service::junit {

class OutputFiles {
 public:
  // One file at `path`, or, when `numbered`, files named after it with "-1", "-2", ... before
  // its extension ("out/junit.xml" gives "out/junit-1.xml").
  OutputFiles(std::string path, bool numbered);

  bool writing() const noexcept { return current_ != nullptr; }
  // Starts the next file.
  void start();
  void write(std::string_view bytes);
  // Completes the current file; it waits for commit().
  void finish();
  // Puts every file in place and returns their paths in order. When numbered, the files an
  // earlier, longer export left numbered past the last are removed: a reader that takes
  // every part would count them again.
  std::vector<std::string> commit();

 private:
  std::string path_for(std::size_t number) const;

  std::string path_;
  bool numbered_;
  std::vector<std::unique_ptr<utils::AtomicFile>> files_;
  std::vector<std::string> paths_;
  utils::AtomicFile* current_ = nullptr;
};

}  // namespace morvi::service::junit
