#pragma once
// The subcommands the reporter contributes to the framework's command-line tool.
#include <array>
#include <string_view>

#include "morvi/cli/base.hpp"
#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::commands {

using cli::ERROR;
using cli::Subcommand;
using schema::validate;

// Device attributes a testbed check looks at; nothing in this module reads them.
inline constexpr std::array<std::string_view, 3> DEVICE_ATTRIBUTES_TO_CHECK = {"type", "os",
                                                                               "platform"};

// Validates that a results file is loadable.
class ValidateResultsFile : public Subcommand {
 public:
  static constexpr std::string_view name = "results";
  static constexpr std::string_view help = "validate your results file json syntax";
  static constexpr std::string_view usage = "{prog} [file]";
  static constexpr std::string_view description =
      "\nValidates the provided results json file for syntax and content completeness.\n    ";

  // Hands the setup to Subcommand unchanged, then declares the positional argument "[file]".
  explicit ValidateResultsFile(const cli::CommandSetup& setup);

  // Reads and parses the file at args["file"] and checks the document against the results
  // schema. Prints the problems and returns ERROR when it fails; prints "<file> accepted" and
  // returns none when it passes. A file that cannot be read (std::system_error) or is not JSON
  // (ParseError) is an error out of run, and nothing is printed.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::reporter::commands
