#pragma once
// A command-line tool: command groups holding subcommands, dispatched on CLI11.
//
//   morvi::cli::Program morvi("morvi", "The morvi command line.");
//   morvi.add_group("validate", "validate files", "Validates files.").add<ValidateResultsFile>();
//   return morvi.main(argc, argv);
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "morvi/cli/base.hpp"

#pragma GCC visibility push(default)
namespace morvi::cli {

// Builds and runs the CLI11 command line of a Program (program.cpp).
struct Dispatch;

class CommandGroup {
 public:
  // `prog` is the program and command path of the group: "morvi validate".
  CommandGroup(std::string prog, std::string description, std::ostream& out, std::ostream& err);
  virtual ~CommandGroup();
  CommandGroup(const CommandGroup&) = delete;
  CommandGroup& operator=(const CommandGroup&) = delete;

  // Registers a subcommand under its class-level name and creates it.
  template <SubcommandClass Command>
  Command& add() {
    auto command = std::make_unique<Command>(CommandSetup{
        prog_ + " " + std::string(Command::name), Command::usage, Command::description, out_,
        err_});
    Command& added = *command;
    entries_.push_back(
        {std::string(Command::name), std::string(Command::help), std::move(command), nullptr});
    return added;
  }
  CommandGroup& add_group(const std::string& name, const std::string& help,
                          const std::string& description);

  const std::string& prog() const noexcept { return prog_; }
  const std::string& description() const noexcept { return description_; }
  // "usage: ..." without a trailing newline.
  std::string format_usage() const;
  std::string format_help() const;

 protected:
  std::ostream& out() const noexcept { return *out_; }
  std::ostream& err() const noexcept { return *err_; }
  // Shown by "--version" and listed on the help page when not empty (the program's only).
  std::string version_;

 private:
  friend struct Dispatch;
  struct Entry {
    std::string name;
    std::string help;
    std::unique_ptr<Subcommand> command;  // one of the two is set
    std::unique_ptr<CommandGroup> group;
  };

  std::string prog_;
  std::string description_;
  std::ostream* out_;
  std::ostream* err_;
  std::vector<Entry> entries_;
};

class Program : public CommandGroup {
 public:
  explicit Program(const std::string& name, const std::string& description,
                   std::ostream& out = std::cout, std::ostream& err = std::cerr);

  // What "<name> --version" prints: "morvi 3.4.0".
  void set_version(std::string version) { version_ = std::move(version); }

  // Parses the command line, runs the command it names and returns the exit status: 0 after
  // help, the version or a run returning none, the run's status otherwise. USAGE_ERROR for a
  // command line that does not parse: then the usage of the command reached and an
  // error_line on the error stream. When run fails, an error_line on the error stream and
  // IO_ERROR for an operating-system error, ERROR for any other.
  int main(int argc, const char* const* argv);
};

}  // namespace morvi::cli
#pragma GCC visibility pop
