#pragma once
// The subcommands the reporter contributes to the framework's command-line tool.
#include <array>
#include <string_view>

#include "morvi/cli/base.hpp"
#include "morvi/reporter/schema.hpp"

#pragma GCC visibility push(default)
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

  // Hands the setup to Subcommand unchanged, then declares the positional argument "[file]"
  // (one or more files; "-" is standard input) and the options --format, --quiet and
  // --max-size.
  explicit ValidateResultsFile(const cli::CommandSetup& setup);

  // Reads and parses each file in args["file"] and checks its document against the results
  // schema, going on after a file that fails. In the text format, prints "<file> accepted"
  // for a file that passes (unless args["quiet"]), its problems for one that does not (each
  // line led by the file's name when several files are checked), and one error line on the
  // error stream for a file that cannot be read or is not JSON. In the json format, prints one
  // document for all files. Returns none when every file passes; otherwise ERROR when a
  // document is invalid (schema problems, or not JSON), IO_ERROR when a file cannot be read
  // (also when it holds more than args["max_size"] bytes), the latter taking precedence.
  cli::Status run(const cli::Arguments& args) override;
};

}  // namespace morvi::reporter::commands
#pragma GCC visibility pop
