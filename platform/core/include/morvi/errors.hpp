#pragma once
// The error kinds every component reports with. Messages say what was wrong and where.
#include <cstddef>
#include <stdexcept>
#include <string>

#pragma GCC visibility push(default)
namespace morvi {

// A call was given arguments it cannot take (a wrong option, a value it must refuse).
class ArgumentError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A value was of the wrong kind for the operation.
class TypeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A key or index that is not there.
class LookupError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// Text that does not parse (JSON, XML); line and column are 1-based, 0 when unknown.
class ParseError : public std::runtime_error {
 public:
  ParseError(const std::string& what, std::size_t line = 0, std::size_t column = 0)
      : std::runtime_error(what), line_(line), column_(column) {}
  std::size_t line() const noexcept { return line_; }
  std::size_t column() const noexcept { return column_; }

 private:
  std::size_t line_;
  std::size_t column_;
};

// A value a writer cannot write; the message names the value's kind.
class SerializationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace morvi
#pragma GCC visibility pop
