#include "morvi/cli/base.hpp"

#include <iostream>

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

Subcommand::Subcommand(const CommandSetup& setup)
    : parser(setup.prog, fill_prog(setup.usage, setup.prog), std::string(setup.description)),
      out_(setup.out ? setup.out : &std::cout) {}

}  // namespace morvi::cli
