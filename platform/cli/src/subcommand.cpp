#include "morvi/cli/base.hpp"

#include <iostream>

#include "morvi/printable.hpp"

namespace morvi::cli {

std::string fill_prog(std::string_view usage, std::string_view prog) {
  static constexpr std::string_view kPlaceholder = "{prog}";
  std::string filled;
  std::size_t from = 0;
  for (std::size_t at; (at = usage.find(kPlaceholder, from)) != std::string_view::npos;
       from = at + kPlaceholder.size()) {
    filled.append(usage.substr(from, at - from)).append(prog);
  }
  return filled.append(usage.substr(from));
}

std::string error_line(std::string_view prog, std::string_view message) {
  return std::string(prog) + ": error: " + printable_text(message) + "\n";
}

Subcommand::Subcommand(const CommandSetup& setup)
    : parser(setup.prog, fill_prog(setup.usage, setup.prog), std::string(setup.description)),
      out_(setup.out ? setup.out : &std::cout),
      err_(setup.err ? setup.err : &std::cerr) {}

void Subcommand::print_error(std::string_view message) const {
  // The tool's name is the first word of the command path ("morvi validate results").
  const std::string_view path = parser.prog();
  out_->flush();
  *err_ << error_line(path.substr(0, path.find(' ')), message);
}

void Subcommand::print_warning(std::string_view message) const {
  const std::string_view path = parser.prog();
  out_->flush();
  *err_ << path.substr(0, path.find(' ')) << ": warning: " << printable_text(message) << "\n";
}

}  // namespace morvi::cli
