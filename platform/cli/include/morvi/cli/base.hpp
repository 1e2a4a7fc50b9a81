#pragma once
// The base of the framework's command-line subcommands. A subcommand class gives its
// class-level texts as static members, which the command-line layer reads to register and
// describe it:
//
//   class Hello : public morvi::cli::Subcommand {
//    public:
//     static constexpr std::string_view name = "hello";
//     static constexpr std::string_view help = "say hello";            // one line, in lists
//     static constexpr std::string_view usage = "{prog} [who]";        // "" to derive it
//     static constexpr std::string_view description = "Says hello.";  // on its help page
//     explicit Hello(const morvi::cli::CommandSetup& setup) : Subcommand(setup) {
//       parser.add_argument("who", "[who]", morvi::Kind::Text, "whom to greet");
//     }
//     morvi::cli::Status run(const morvi::cli::Arguments& args) override;
//   };
#include <concepts>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "morvi/cli/argument_parser.hpp"

#pragma GCC visibility push(default)
namespace morvi::cli {

// Exit statuses of the command-line tools.
// A command that failed: its check found problems, or it stopped on an error.
inline constexpr int ERROR = 1;
// A command line that does not parse: an unknown command or option, a missing or bad value.
inline constexpr int USAGE_ERROR = 2;
// A file that cannot be opened, read or written (an operating-system error).
inline constexpr int IO_ERROR = 3;

// What run returns: none for success, otherwise the exit status.
using Status = std::optional<int>;

// What the command-line layer hands a subcommand's constructor.
struct CommandSetup {
  std::string prog;              // the program and command path: "morvi validate results"
  std::string_view usage;        // may hold "{prog}"
  std::string_view description;
  std::ostream* out;             // where the command writes its output
  std::ostream* err = nullptr;   // where it writes error lines; standard error when null
};

// `usage` with every "{prog}" replaced by `prog`.
std::string fill_prog(std::string_view usage, std::string_view prog);

// How every error of the command line reads: "<prog>: error: <message>" and a newline, the
// message on one line with whatever it quotes escaped (printable_text).
std::string error_line(std::string_view prog, std::string_view message);

class Subcommand {
 public:
  // Creates `parser` from the setup: its prog, its usage with {prog} filled, its description.
  explicit Subcommand(const CommandSetup& setup);
  virtual ~Subcommand() = default;
  Subcommand(const Subcommand&) = delete;
  Subcommand& operator=(const Subcommand&) = delete;

  virtual Status run(const Arguments& args) = 0;

  ArgumentParser parser;

 protected:
  // Standard output, unless the tool that registered the command says otherwise.
  std::ostream& out() const noexcept { return *out_; }
  // Writes error_line(<the tool's name>, message) to the error stream (standard error unless
  // the tool says otherwise), after flushing the output, for a command that goes on after an
  // error.
  void print_error(std::string_view message) const;
  // The same line as a warning ("<tool>: warning: <message>"), for a command that goes on.
  void print_warning(std::string_view message) const;

 private:
  std::ostream* out_;
  std::ostream* err_;
};

// A class the command-line layer can register: a Subcommand with the four class-level texts,
// constructible from a CommandSetup.
template <class T>
concept SubcommandClass = std::derived_from<T, Subcommand> &&
                          std::constructible_from<T, const CommandSetup&> && requires {
                            { T::name } -> std::convertible_to<std::string_view>;
                            { T::help } -> std::convertible_to<std::string_view>;
                            { T::usage } -> std::convertible_to<std::string_view>;
                            { T::description } -> std::convertible_to<std::string_view>;
                          };

}  // namespace morvi::cli
#pragma GCC visibility pop
