#pragma once
// Reading results JSON text in place, one value at a time: values are checked as they are
// passed, built as Values only where asked for, and skipped otherwise without building
// anything. It takes exactly the documents the results reader takes (strict JSON plus NaN,
// Infinity and -Infinity, nested no deeper than MAX_DEPTH, no number past a double); it does
// not word what is wrong, it only says where it stopped.
#include <cstddef>
#include <string>
#include <string_view>

#include "long_values.hpp"
#include "morvi/value.hpp"

namespace morvi::reporter::client {

// Where the text stopped being a document the results reader takes.
struct NotJson {
  std::size_t offset;
};

// How far a reader goes between reports of the text it has passed.
inline constexpr std::size_t kPassedEvery = std::size_t{8} << 20;

// Told of the text a reader has passed, every few megabytes, so a mapped file can give back
// the pages behind it.
class PassedText {
 public:
  virtual void passed(std::size_t from, std::size_t to) const = 0;

 protected:
  ~PassedText() = default;
};

class JsonReader {
 public:
  // Reads `text` from `offset`, inside `depth` open arrays and objects. NotJson from every
  // member for text that is not as described above. With `long_values`, skip_value tells it
  // the long containers it passes while it learns, and jumps over those it knows once learnt.
  JsonReader(std::string_view text, std::size_t offset, std::size_t depth,
             const PassedText* passed = nullptr, LongValues* long_values = nullptr);

  std::size_t offset() const noexcept { return static_cast<std::size_t>(p_ - begin_); }
  // The next byte after white space, without taking it; NUL at the end.
  char peek();
  // Skips a byte order mark at the start of the text.
  void skip_bom();
  // Fails unless only white space is left.
  void expect_end();

  // Opens the array or object whose bracket is next; false (and closed again) when it is
  // empty. next() then passes the comma to the next element, false at the closing bracket.
  bool enter(char open);
  bool next(char close);
  // An object member's name and its colon; the view lasts until the next name is read.
  std::string_view key();

  void skip_value();
  Value read_value();

 private:
  char here() const noexcept { return p_ < end_ ? *p_ : '\0'; }
  [[noreturn]] void fail() const { throw NotJson{offset()}; }
  void skip_space() noexcept;
  // A string at the cursor; its content decoded into `out` when given.
  void string(std::string* out);
  void escape(std::string* out);
  void utf8_sequence();
  bool word(std::string_view w) noexcept;
  // NaN, Infinity or -Infinity standing alone, as the results writer writes non-finite reals.
  bool non_finite(double& x) noexcept;
  Value number(bool build);
  // A value that is neither array nor object.
  Value scalar(bool build);
  void check_passed();

  const char* begin_;
  const char* p_;
  const char* end_;
  std::size_t depth_;
  const PassedText* passed_;
  LongValues* long_values_;
  std::size_t reported_;
  std::string key_;
};

}  // namespace morvi::reporter::client
