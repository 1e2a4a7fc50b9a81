#include "morvi/cli/argument_parser.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "morvi/errors.hpp"

namespace morvi::cli {

namespace {

constexpr std::size_t kWidth = 80;

const char* type_word(Kind type) {
  switch (type) {
    case Kind::Int:
      return "int";
    case Kind::Float:
      return "float";
    default:
      return "text";
  }
}

std::string dest_of(const std::string& name) {
  std::string dest = name.substr(name.find_first_not_of('-'));
  std::replace(dest.begin(), dest.end(), '-', '_');
  return dest;
}

std::string invocation(const ArgumentParser::Argument& argument) {
  if (argument.flag()) return argument.name;
  return argument.positional() ? argument.metavar : argument.name + " " + argument.metavar;
}

std::string quoted_list(const std::vector<std::string>& words) {
  std::string list;
  for (const std::string& word : words) list += (list.empty() ? "'" : ", '") + word + "'";
  return list;
}

}  // namespace

const Value& Arguments::operator[](std::string_view name) const {
  const Value* value = values_.find(name);
  if (!value) throw LookupError("no argument named '" + std::string(name) + "'");
  return *value;
}

ArgumentParser::ArgumentParser(std::string prog, std::string usage, std::string description)
    : prog_(std::move(prog)), usage_(std::move(usage)), description_(std::move(description)) {}

ArgumentParser::Argument& ArgumentParser::add_argument(std::string name, std::string metavar,
                                                       Kind type, std::string help) {
  if (type != Kind::Text && type != Kind::Int && type != Kind::Float) {
    throw ArgumentError("argument " + name + ": type must be text, int or float, not " +
                        kind_name(type));
  }
  if (name.find_first_not_of('-') == std::string::npos) {
    throw ArgumentError("argument name '" + name + "' names nothing");
  }
  Argument argument;
  argument.name = name;
  argument.dest = dest_of(name);
  argument.metavar = std::move(metavar);
  argument.type = type;
  argument.help = std::move(help);
  for (const Argument& other : arguments_) {
    if (other.name == argument.name || other.dest == argument.dest) {
      throw ArgumentError("argument " + name + " is declared twice");
    }
  }
  arguments_.push_back(std::move(argument));
  return arguments_.back();
}

ArgumentParser::Argument& ArgumentParser::add_flag(std::string name, std::string help) {
  if (!name.starts_with("--")) throw ArgumentError("flag " + name + " must start with --");
  Argument& flag = add_argument(std::move(name), "", Kind::Text, std::move(help));
  flag.type = Kind::Bool;
  return flag;
}

ArgumentParser::Argument& ArgumentParser::Argument::one_or_more() {
  if (!positional()) throw ArgumentError("argument " + name + ": only positional ones repeat");
  repeated = true;
  return *this;
}

ArgumentParser::Argument& ArgumentParser::Argument::one_of(std::vector<std::string> allowed) {
  if (type != Kind::Text) throw ArgumentError("argument " + name + ": choices need a text");
  choices = std::move(allowed);
  return *this;
}

ArgumentParser::Argument& ArgumentParser::Argument::at_least(std::int64_t smallest) {
  if (type != Kind::Int) throw ArgumentError("argument " + name + ": a minimum needs an int");
  minimum = smallest;
  return *this;
}

ArgumentParser::Argument& ArgumentParser::Argument::abbreviated(std::string letter) {
  if (positional()) throw ArgumentError("argument " + name + ": only options have short names");
  if (letter.size() != 2 || letter[0] != '-' || letter[1] == '-') {
    throw ArgumentError("argument " + name + ": short name '" + letter + "' is not -<letter>");
  }
  short_name = std::move(letter);
  return *this;
}

ArgumentParser::Argument& ArgumentParser::Argument::mandatory() {
  if (positional() || flag()) throw ArgumentError("argument " + name + ": only options can be required");
  required = true;
  return *this;
}

ArgumentParser::Argument& ArgumentParser::Argument::may_be_left_out() {
  if (!positional() || repeated) throw ArgumentError("argument " + name + ": only single positional ones may be left out");
  omissible = true;
  return *this;
}

std::string ArgumentParser::format_usage() const {
  if (!usage_.empty()) return "usage: " + usage_;
  std::string usage = "usage: " + prog_ + " [-h]";
  for (const Argument& argument : arguments_) {
    if (argument.positional()) continue;
    usage += argument.required ? " " + invocation(argument) : " [" + invocation(argument) + "]";
  }
  for (const Argument& argument : arguments_) {
    if (argument.positional()) {
      usage += " " + argument.metavar;
      if (argument.repeated) usage += " [" + argument.metavar + " ...]";
    }
  }
  return usage;
}

std::string ArgumentParser::format_help() const {
  std::string text = format_usage() + "\n";
  if (!description_.empty()) text += "\n" + help_text::fill(description_, kWidth, 0);
  help_text::Rows positionals;
  help_text::Rows options{{"-h, --help", "show this help message and exit"}};
  for (const Argument& argument : arguments_) {
    const std::string shown = argument.short_name.empty()
                                  ? invocation(argument)
                                  : argument.short_name + ", " + invocation(argument);
    (argument.positional() ? positionals : options).emplace_back(shown, argument.help);
  }
  const std::size_t column = help_text::help_column({&positionals, &options});
  if (!positionals.empty()) {
    text += "\npositional arguments:\n" + help_text::rows(positionals, column);
  }
  text += "\noptions:\n" + help_text::rows(options, column);
  return text;
}

Value ArgumentParser::convert(const Argument& argument, const std::string& raw) {
  const std::string what = "argument " + invocation(argument) + ": ";
  const auto invalid = [&] {
    return ArgumentError(what + "invalid " + type_word(argument.type) + " value: '" + raw + "'");
  };
  // An option given without a value ("--depth" at the end of the line) comes as empty.
  if (raw.empty() && !argument.positional()) throw ArgumentError(what + "expected one value");
  switch (argument.type) {
    case Kind::Int: {
      std::int64_t n = 0;
      const char* end = raw.data() + raw.size();
      const auto [stop, error] = std::from_chars(raw.data() + (raw.starts_with('+') ? 1 : 0), end, n);
      if (raw.empty() || error != std::errc() || stop != end) throw invalid();
      if (argument.minimum && n < *argument.minimum) {
        throw ArgumentError(what + "must be " + std::to_string(*argument.minimum) +
                            " or more, not " + raw);
      }
      return Value(n);
    }
    case Kind::Float: {
      char* stop = nullptr;
      const double x = std::strtod(raw.c_str(), &stop);
      if (raw.empty() || stop != raw.c_str() + raw.size()) throw invalid();
      return Value(x);
    }
    default:
      if (!argument.choices.empty() &&
          std::find(argument.choices.begin(), argument.choices.end(), raw) ==
              argument.choices.end()) {
        throw ArgumentError(what + "invalid choice: '" + raw + "' (choose from " +
                            quoted_list(argument.choices) + ")");
      }
      return Value(raw);
  }
}

namespace help_text {

std::string fill(std::string_view text, std::size_t width, std::size_t indent) {
  std::string out;
  std::size_t column = 0;
  std::size_t i = 0;
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (i < text.size()) {
    while (i < text.size() && space(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !space(text[i])) ++i;
    if (start == i) break;
    const std::string_view word = text.substr(start, i - start);
    if (column > indent && column + 1 + word.size() > width) {
      out += '\n';
      column = 0;
    }
    if (column == 0) {
      out.append(indent, ' ');
      column = indent;
    } else {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
  }
  if (!out.empty()) out += '\n';
  return out;
}

std::size_t help_column(const std::vector<const Rows*>& sections) {
  std::size_t longest = 0;
  for (const Rows* section : sections) {
    for (const auto& [name, help] : *section) longest = std::max(longest, name.size());
  }
  return std::min<std::size_t>(2 + longest + 2, 24);
}

std::string rows(const Rows& entries, std::size_t column) {
  std::string out;
  for (const auto& [name, help] : entries) {
    std::string line = "  " + name;
    const std::string wrapped = fill(help, kWidth, column);
    if (wrapped.empty()) {
      out += line + "\n";
    } else if (line.size() + 2 <= column) {
      line.append(column - line.size(), ' ');
      out += line + wrapped.substr(column);
    } else {
      out += line + "\n" + wrapped;
    }
  }
  return out;
}

}  // namespace help_text

}  // namespace morvi::cli
