#pragma once
// Reading what a program wrote, and naming files to the shell.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace morvi::testing {

// The whole content of `path` as bytes; empty when it cannot be read.
inline std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// `word` as one word of a POSIX shell command, whatever bytes it holds.
inline std::string shell_quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace morvi::testing
