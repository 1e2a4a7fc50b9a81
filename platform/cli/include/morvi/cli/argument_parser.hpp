#pragma once
// How one command declares, parses and describes its arguments, in the manner of the standard
// argument parsers: positional arguments, options that take a value and flags, each with a
// metavar, a type and a help text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::cli {

// The parsed arguments of one command.
class Arguments {
 public:
  // The value of the argument `name` (an option's name without its dashes): a text, int or
  // float as declared, none when an option was not given; a list of them for a positional
  // argument given one or more times; true or false for a flag. LookupError for a name no
  // argument declared.
  const Value& operator[](std::string_view name) const;
  void set(std::string_view name, Value value) { values_.set(name, std::move(value)); }

 private:
  Map values_;
};

class ArgumentParser {
 public:
  struct Argument {
    std::string name;     // "file", or "--depth" for an option
    std::string dest;     // the name in Arguments: "file", "depth"
    std::string metavar;  // how help and usage show the value: "[file]", "N"
    Kind type;            // Kind::Text, Kind::Int or Kind::Float; Kind::Bool for a flag
    std::string help;
    bool repeated = false;              // a positional argument taking one or more values
    std::vector<std::string> choices;   // the only values allowed, when not empty
    std::optional<std::int64_t> minimum;  // the smallest int allowed
    std::string short_name;             // "-o" beside "--output", or empty
    bool required = false;              // an option that must be given
    bool omissible = false;             // a positional argument that may be left out
    bool positional() const { return !name.starts_with('-'); }
    bool flag() const { return type == Kind::Bool; }

    // Declaration refinements, chained on what add_argument returns. ArgumentError when they
    // do not fit the argument (one_or_more on an option, at_least on a non-int).
    Argument& one_or_more();
    Argument& one_of(std::vector<std::string> allowed);
    Argument& at_least(std::int64_t smallest);
    // A one-letter spelling of an option or flag ("-o" for "--output").
    Argument& abbreviated(std::string letter);
    // An option that must be given, like a positional argument.
    Argument& mandatory();
    // A positional argument that may be left out (none when it is), for a command that takes
    // its input either from it or from an option.
    Argument& may_be_left_out();
  };

  // `usage` is shown as it is; an empty one is made from the arguments.
  ArgumentParser(std::string prog, std::string usage, std::string description);

  // Declares a positional argument ("file"), required, or an option ("--depth"), which may be
  // left out. ArgumentError for a type other than text, int or float, a name that is empty
  // or "-"/"--" alone, or a name declared before. The reference lasts until the next
  // declaration.
  Argument& add_argument(std::string name, std::string metavar, Kind type, std::string help);
  // Declares an option that takes no value ("--quiet"): true when given.
  Argument& add_flag(std::string name, std::string help);

  const std::string& prog() const noexcept { return prog_; }
  const std::string& description() const noexcept { return description_; }
  const std::vector<Argument>& arguments() const noexcept { return arguments_; }
  // "usage: ..." without a trailing newline.
  std::string format_usage() const;
  std::string format_help() const;

  // The typed value of `raw` for `argument`, within its choices and minimum; ArgumentError
  // saying which argument and why.
  static Value convert(const Argument& argument, const std::string& raw);

 private:
  std::string prog_;
  std::string usage_;
  std::string description_;
  std::vector<Argument> arguments_;
};

// Help text helpers shared with command groups.
namespace help_text {
// The text with surrounding white space dropped and inner runs of it made single spaces,
// wrapped at `width` columns, each line indented by `indent` spaces.
std::string fill(std::string_view text, std::size_t width, std::size_t indent);
using Rows = std::vector<std::pair<std::string, std::string>>;
// The column where the helps of a page's rows start: two spaces after the longest name, but
// no further right than column 24.
std::size_t help_column(const std::vector<const Rows*>& sections);
// One "  name    help" line per entry, the help starting at `column`; a name too long for
// that puts its help on the next line.
std::string rows(const Rows& entries, std::size_t column);
}  // namespace help_text

}  // namespace morvi::cli
#pragma GCC visibility pop
