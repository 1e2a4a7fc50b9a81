#include "morvi/cli/program.hpp"

#include <exception>
#include <map>

#include <CLI/CLI.hpp>

#include "morvi/errors.hpp"

namespace morvi::cli {

namespace {

constexpr int kUsageError = 2;

// An error message as one line, whatever it quotes.
std::string one_line(std::string_view message) {
  std::string line;
  for (const char c : message) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

}  // namespace

struct Dispatch {
  // What one CLI11 App stands for: a group, or a command with its arguments' raw values.
  struct Node {
    const CommandGroup* group = nullptr;
    Subcommand* command = nullptr;
    std::map<std::string, std::string> raw;
    std::map<std::string, CLI::Option*> options;
  };

  std::map<const CLI::App*, Node> nodes;

  void attach(const CommandGroup& group, CLI::App& app) {
    nodes[&app].group = &group;
    describe(app, [&group] { return group.format_help(); });
    app.require_subcommand(1);
    for (const CommandGroup::Entry& entry : group.entries_) {
      CLI::App& sub = *app.add_subcommand(entry.name, entry.help);
      if (entry.group) {
        attach(*entry.group, sub);
        continue;
      }
      Node& node = nodes[&sub];
      node.command = entry.command.get();
      const ArgumentParser& parser = node.command->parser;
      describe(sub, [&parser] { return parser.format_help(); });
      for (const ArgumentParser::Argument& argument : parser.arguments()) {
        node.options[argument.dest] = sub.add_option(
            argument.positional() ? argument.dest : argument.name, node.raw[argument.dest]);
      }
    }
  }

  static void describe(CLI::App& app, std::function<std::string()> help) {
    app.set_help_flag("-h,--help", "show this help message and exit");
    app.formatter_fn(
        [help = std::move(help)](const CLI::App*, std::string, CLI::AppFormatMode) {
          return help();
        });
  }

  // The node of the innermost command the command line reached.
  const Node& reached(const CLI::App& root) const {
    const CLI::App* app = &root;
    while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
    return nodes.at(app);
  }

  // The parsed arguments of `node`'s command; ArgumentError for a missing positional argument
  // or a value of the wrong type.
  static Arguments arguments_of(const Node& node) {
    Arguments args;
    std::string missing;
    for (const ArgumentParser::Argument& argument : node.command->parser.arguments()) {
      if (node.options.at(argument.dest)->count() > 0) {
        args.set(argument.dest, ArgumentParser::convert(argument, node.raw.at(argument.dest)));
      } else if (argument.positional()) {
        missing += (missing.empty() ? "" : ", ") + argument.metavar;
      } else {
        args.set(argument.dest, Value());
      }
    }
    if (!missing.empty()) {
      throw ArgumentError("the following arguments are required: " + missing);
    }
    return args;
  }
};

CommandGroup::CommandGroup(std::string prog, std::string description, std::ostream& out)
    : prog_(std::move(prog)), description_(std::move(description)), out_(&out) {}

CommandGroup::~CommandGroup() = default;

CommandGroup& CommandGroup::add_group(const std::string& name, const std::string& help,
                                      const std::string& description) {
  auto group = std::make_unique<CommandGroup>(prog_ + " " + name, description, *out_);
  CommandGroup& added = *group;
  entries_.push_back({name, help, nullptr, std::move(group)});
  return added;
}

std::string CommandGroup::format_usage() const { return "usage: " + prog_ + " [-h] <command> ..."; }

std::string CommandGroup::format_help() const {
  std::string text = format_usage() + "\n";
  if (!description_.empty()) text += "\n" + help_text::fill(description_, 80, 0);
  help_text::Rows commands;
  for (const Entry& entry : entries_) commands.emplace_back(entry.name, entry.help);
  const help_text::Rows options{{"-h, --help", "show this help message and exit"}};
  const std::size_t column = help_text::help_column({&commands, &options});
  text += "\ncommands:\n" + help_text::rows(commands, column);
  text += "\noptions:\n" + help_text::rows(options, column);
  return text;
}

Program::Program(const std::string& name, const std::string& description, std::ostream& out,
                 std::ostream& err)
    : CommandGroup(name, description, out), err_(&err) {}

int Program::main(int argc, const char* const* argv) {
  CLI::App app(description(), prog());
  Dispatch dispatch;
  dispatch.attach(*this, app);

  const auto usage_error = [&](const std::string& message) {
    const Dispatch::Node& node = dispatch.reached(app);
    const std::string usage =
        node.command ? node.command->parser.format_usage() : node.group->format_usage();
    const std::string& prog = node.command ? node.command->parser.prog() : node.group->prog();
    *err_ << usage << '\n' << prog << ": error: " << one_line(message) << '\n';
    return kUsageError;
  };

  Arguments args;
  try {
    app.parse(argc, argv);
    args = Dispatch::arguments_of(dispatch.reached(app));
  } catch (const CLI::CallForHelp&) {
    out() << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  } catch (const ArgumentError& e) {
    return usage_error(e.what());
  }

  Status status;
  try {
    status = dispatch.reached(app).command->run(args);
  } catch (const std::exception& e) {
    out().flush();
    *err_ << prog() << ": error: " << one_line(e.what()) << '\n';
    return ERROR;
  } catch (...) {
    out().flush();
    *err_ << prog() << ": error: the command failed with an unknown error\n";
    return ERROR;
  }
  out().flush();
  return status.value_or(0);
}

}  // namespace morvi::cli
