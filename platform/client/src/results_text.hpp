#pragma once
// The text of a results document as the file client reads it.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "json_reader.hpp"
#include "morvi/reporter/schema/results_json.hpp"

namespace morvi::reporter::client {

// A regular file is mapped read-only, and the pages a read has passed are given back as it
// goes (they stay in the page cache), so reading the whole document holds only a few
// megabytes of it. Standard input, pipes and devices are read into memory, as they cannot be
// mapped; so is text given in memory.
class ResultsText : public PassedText {
 public:
  // std::system_error, worded as read_text_file words it, when `path` cannot be read.
  static std::unique_ptr<ResultsText> open(const std::string& path);
  static std::unique_ptr<ResultsText> in_memory(std::string text);
  ResultsText(const ResultsText&) = delete;
  ResultsText& operator=(const ResultsText&) = delete;
  ~ResultsText();

  std::string_view view() const noexcept { return view_; }
  // Where a reader should report what it passed: the mapping, or nobody for text in memory.
  const PassedText* pages() const noexcept { return mapped_ ? this : nullptr; }
  // Gives back the whole pages of [from, to) of a mapped file.
  void passed(std::size_t from, std::size_t to) const override;

 private:
  ResultsText() = default;

  std::string text_;
  schema::TextBuffer buffer_;
  void* mapped_ = nullptr;
  std::size_t mapped_size_ = 0;
  std::string_view view_;
};

}  // namespace morvi::reporter::client
