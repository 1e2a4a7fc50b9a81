#include "morvi/cli/program.hpp"

#include <exception>
#include <map>
#include <optional>
#include <system_error>

#include <CLI/CLI.hpp>

#include "morvi/errors.hpp"

namespace morvi::cli {

namespace {

constexpr std::string_view kHelpText = "show this help message and exit";
constexpr std::string_view kVersionText = "show the program's version and exit";

std::string joined(const std::vector<std::string>& words, std::string_view separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : std::string(separator)) + word;
  return text;
}

}  // namespace

// CLI11 splits the command line into words; every check and every message is ours, so all
// of them read alike. Words CLI11 cannot place are kept (allow_extras) and named afterwards.
struct Dispatch {
  // What one CLI11 App stands for: a group, or a command with its arguments' raw values.
  struct Node {
    const CommandGroup* group = nullptr;
    Subcommand* command = nullptr;
    std::map<std::string, std::string> raw;
    std::map<std::string, std::vector<std::string>> lists;
    std::map<std::string, bool> flags;
    std::map<std::string, CLI::Option*> options;
  };

  std::map<const CLI::App*, Node> nodes;

  void attach(const CommandGroup& group, CLI::App& app) {
    nodes[&app].group = &group;
    describe(app, [&group] { return group.format_help(); });
    app.allow_extras();
    for (const CommandGroup::Entry& entry : group.entries_) {
      CLI::App& sub = *app.add_subcommand(entry.name, entry.help);
      if (entry.group) {
        attach(*entry.group, sub);
        continue;
      }
      Node& node = nodes[&sub];
      node.command = entry.command.get();
      sub.allow_extras();
      const ArgumentParser& parser = node.command->parser;
      describe(sub, [&parser] { return parser.format_help(); });
      for (const ArgumentParser::Argument& argument : parser.arguments()) {
        CLI::Option*& option = node.options[argument.dest];
        const std::string spelled = argument.short_name.empty()
                                        ? argument.name
                                        : argument.short_name + "," + argument.name;
        if (argument.flag()) {
          option = sub.add_flag(spelled, node.flags[argument.dest]);
        } else if (argument.repeated) {
          option = sub.add_option(argument.dest, node.lists[argument.dest]);
        } else if (argument.positional()) {
          option = sub.add_option(argument.dest, node.raw[argument.dest]);
        } else {
          // A missing value reaches convert as an empty one, which names the option.
          option = sub.add_option(spelled, node.raw[argument.dest])->expected(0, 1);
        }
      }
    }
  }

  static void describe(CLI::App& app, std::function<std::string()> help) {
    app.set_help_flag("-h,--help", std::string(kHelpText));
    app.formatter_fn(
        [help = std::move(help)](const CLI::App*, std::string, CLI::AppFormatMode) {
          return help();
        });
  }

  // The apps the command line went through, the root first.
  static std::vector<const CLI::App*> path(const CLI::App& root) {
    std::vector<const CLI::App*> apps{&root};
    while (!apps.back()->get_subcommands().empty()) {
      apps.push_back(apps.back()->get_subcommands().front());
    }
    return apps;
  }

  const Node& reached(const CLI::App& root) const { return nodes.at(path(root).back()); }

  // ArgumentError for words no command or argument took: an unknown command, an unknown
  // option, a value too many.
  void check_words(const CLI::App& root) const {
    std::vector<std::string> extra;
    for (const CLI::App* app : path(root)) {
      for (const std::string& word : app->remaining()) {
        if (word != "--") extra.push_back(word);
      }
    }
    const Node& node = reached(root);
    if (node.group) {
      std::vector<std::string> names;
      for (const CommandGroup::Entry& entry : node.group->entries_) names.push_back(entry.name);
      const std::string choices = " (choose from " + joined(names, ", ") + ")";
      if (extra.empty()) throw ArgumentError("a command is required" + choices);
      if (!extra.front().starts_with('-')) {
        throw ArgumentError("invalid command '" + extra.front() + "'" + choices);
      }
    }
    if (!extra.empty()) throw ArgumentError("unrecognized arguments: " + joined(extra, " "));
  }

  // The flag of `node`'s command that a word of the command line gives a value ("--quiet=no").
  static std::optional<std::string> flag_with_a_value(const Node& node, int argc,
                                                      const char* const* argv) {
    if (!node.command) return std::nullopt;
    for (const ArgumentParser::Argument& argument : node.command->parser.arguments()) {
      if (!argument.flag()) continue;
      for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with(argument.name + "=")) return argument.name;
      }
    }
    return std::nullopt;
  }

  // The parsed arguments of `node`'s command; ArgumentError for a missing positional argument
  // or a value of the wrong type.
  static Arguments arguments_of(const Node& node) {
    Arguments args;
    std::string missing;
    for (const ArgumentParser::Argument& argument : node.command->parser.arguments()) {
      const bool given = node.options.at(argument.dest)->count() > 0;
      if (argument.flag()) {
        args.set(argument.dest, Value(given));
      } else if (!given) {
        if ((argument.positional() && !argument.omissible) || argument.required) {
          missing += (missing.empty() ? "" : ", ") +
                     (argument.positional() ? argument.metavar : argument.name);
        }
        args.set(argument.dest, Value());
      } else if (argument.repeated) {
        List values;
        for (const std::string& raw : node.lists.at(argument.dest)) {
          values.push_back(ArgumentParser::convert(argument, raw));
        }
        args.set(argument.dest, Value(std::move(values)));
      } else {
        args.set(argument.dest, ArgumentParser::convert(argument, node.raw.at(argument.dest)));
      }
    }
    if (!missing.empty()) {
      throw ArgumentError("the following arguments are required: " + missing);
    }
    return args;
  }
};

CommandGroup::CommandGroup(std::string prog, std::string description, std::ostream& out,
                           std::ostream& err)
    : prog_(std::move(prog)), description_(std::move(description)), out_(&out), err_(&err) {}

CommandGroup::~CommandGroup() = default;

CommandGroup& CommandGroup::add_group(const std::string& name, const std::string& help,
                                      const std::string& description) {
  auto group = std::make_unique<CommandGroup>(prog_ + " " + name, description, *out_, *err_);
  CommandGroup& added = *group;
  entries_.push_back({name, help, nullptr, std::move(group)});
  return added;
}

std::string CommandGroup::format_usage() const {
  return "usage: " + prog_ + " [-h]" + (version_.empty() ? "" : " [--version]") + " <command> ...";
}

std::string CommandGroup::format_help() const {
  std::string text = format_usage() + "\n";
  if (!description_.empty()) text += "\n" + help_text::fill(description_, 80, 0);
  help_text::Rows commands;
  for (const Entry& entry : entries_) commands.emplace_back(entry.name, entry.help);
  help_text::Rows options{{"-h, --help", std::string(kHelpText)}};
  if (!version_.empty()) options.emplace_back("--version", std::string(kVersionText));
  const std::size_t column = help_text::help_column({&commands, &options});
  text += "\ncommands:\n" + help_text::rows(commands, column);
  text += "\noptions:\n" + help_text::rows(options, column);
  return text;
}

Program::Program(const std::string& name, const std::string& description, std::ostream& out,
                 std::ostream& err)
    : CommandGroup(name, description, out, err) {}

int Program::main(int argc, const char* const* argv) {
  CLI::App app(description(), prog());
  Dispatch dispatch;
  dispatch.attach(*this, app);
  bool version_asked = false;
  if (!version_.empty()) app.add_flag("--version", version_asked);

  const auto usage_error = [&](const std::string& message) {
    const Dispatch::Node& node = dispatch.reached(app);
    const std::string usage =
        node.command ? node.command->parser.format_usage() : node.group->format_usage();
    const std::string& prog = node.command ? node.command->parser.prog() : node.group->prog();
    err() << usage << '\n' << error_line(prog, message);
    return USAGE_ERROR;
  };

  Arguments args;
  try {
    app.parse(argc, argv);
    if (version_asked) {
      out() << version_ << '\n';
      return 0;
    }
    dispatch.check_words(app);
    // CLI11 reads "--quiet=no" as the flag given; a flag takes no value at all.
    if (const auto flag = Dispatch::flag_with_a_value(dispatch.reached(app), argc, argv)) {
      throw ArgumentError("argument " + *flag + ": takes no value");
    }
    args = Dispatch::arguments_of(dispatch.reached(app));
  } catch (const CLI::CallForHelp&) {
    out() << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    if (const auto flag = Dispatch::flag_with_a_value(dispatch.reached(app), argc, argv)) {
      return usage_error("argument " + *flag + ": takes no value");
    }
    return usage_error(std::string("the command line does not parse: ") + e.what());
  } catch (const ArgumentError& e) {
    return usage_error(e.what());
  }

  Status status;
  try {
    status = dispatch.reached(app).command->run(args);
  } catch (const std::system_error& e) {
    out().flush();
    err() << error_line(prog(), e.what());
    return IO_ERROR;
  } catch (const std::exception& e) {
    out().flush();
    err() << error_line(prog(), e.what());
    return ERROR;
  } catch (...) {
    out().flush();
    err() << error_line(prog(), "the command failed with an unknown error");
    return ERROR;
  }
  out().flush();
  return status.value_or(0);
}

}  // namespace morvi::cli
