#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "morvi/cli/base.hpp"
#include "morvi/cli/program.hpp"
#include "morvi/errors.hpp"

namespace morvi::cli {
namespace {

class Repeat : public Subcommand {
 public:
  static constexpr std::string_view name = "repeat";
  static constexpr std::string_view help = "say a word again";
  static constexpr std::string_view usage = "{prog} [--times N] word";
  static constexpr std::string_view description =
      "\n    Says the given word as many times as asked,\n    one per line.\n    ";

  explicit Repeat(const CommandSetup& setup) : Subcommand(setup) {
    parser.add_argument("word", "word", Kind::Text, "what to say");
    parser.add_argument("--times", "N", Kind::Int, "how often; once when left out");
  }
  Status run(const Arguments& args) override {
    const std::int64_t times = args["times"].is_none() ? 1 : args["times"].as_int();
    for (std::int64_t i = 0; i < times; ++i) out() << args["word"].as_text() << '\n';
    if (times == 0) return 3;
    return {};
  }
};

class Fail : public Subcommand {
 public:
  static constexpr std::string_view name = "fail";
  static constexpr std::string_view help = "fail on purpose";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description = "";

  explicit Fail(const CommandSetup& setup) : Subcommand(setup) {}
  Status run(const Arguments&) override {
    out() << "partial";
    throw std::runtime_error("broke at\nline 2");
  }
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome run(std::vector<const char*> words) {
  std::ostringstream out;
  std::ostringstream err;
  Program tool("tool", "A tool for tests.", out, err);
  tool.add_group("say", "say things", "Commands that say things.").add<Repeat>();
  tool.add<Fail>();
  words.insert(words.begin(), "tool");
  const int status = tool.main(static_cast<int>(words.size()), words.data());
  return {status, out.str(), err.str()};
}

TEST(FillProg, ReplacesEveryPlaceholder) {
  EXPECT_EQ(fill_prog("{prog} [file]", "morvi validate results"), "morvi validate results [file]");
  EXPECT_EQ(fill_prog("{prog} a {prog}", "p"), "p a p");
  EXPECT_EQ(fill_prog("no placeholder", "p"), "no placeholder");
  EXPECT_EQ(fill_prog("", "p"), "");
}

TEST(ArgumentParser, RefusesBadDeclarations) {
  ArgumentParser parser("p", "", "");
  parser.add_argument("--max-depth", "N", Kind::Int, "");
  EXPECT_EQ(parser.arguments().back().dest, "max_depth");
  EXPECT_THROW(parser.add_argument("x", "X", Kind::List, ""), ArgumentError);
  EXPECT_THROW(parser.add_argument("--", "X", Kind::Text, ""), ArgumentError);
  EXPECT_THROW(parser.add_argument("max_depth", "N", Kind::Text, ""), ArgumentError);
  EXPECT_EQ(parser.format_usage(), "usage: p [-h] [--max-depth N]");
}

TEST(ArgumentParser, ConvertsByType) {
  ArgumentParser parser("p", "", "");
  const ArgumentParser::Argument n = parser.add_argument("--n", "N", Kind::Int, "");
  const ArgumentParser::Argument x = parser.add_argument("x", "X", Kind::Float, "");
  EXPECT_EQ(ArgumentParser::convert(n, "-12"), Value(-12));
  EXPECT_EQ(ArgumentParser::convert(n, "+3"), Value(3));
  EXPECT_EQ(ArgumentParser::convert(x, "2.5e1"), Value(25.0));
  for (const char* bad : {"", "1.5", "12a", "99999999999999999999"}) {
    EXPECT_THROW(ArgumentParser::convert(n, bad), ArgumentError) << bad;
  }
  try {
    ArgumentParser::convert(x, "one");
    FAIL();
  } catch (const ArgumentError& e) {
    EXPECT_STREQ(e.what(), "argument X: invalid float value: 'one'");
  }
}

TEST(ArgumentParser, RefinementsFitTheirArgument) {
  ArgumentParser parser("p", "", "");
  EXPECT_THROW(parser.add_argument("--f", "F", Kind::Text, "").one_or_more(), ArgumentError);
  EXPECT_THROW(parser.add_argument("--g", "G", Kind::Text, "").at_least(0), ArgumentError);
  EXPECT_THROW(parser.add_argument("--h", "H", Kind::Int, "").one_of({"a"}), ArgumentError);
  EXPECT_THROW(parser.add_flag("-q", ""), ArgumentError);
  parser.add_argument("file", "F", Kind::Text, "").one_or_more();
  EXPECT_EQ(parser.format_usage(), "usage: p [-h] [--f F] [--g G] [--h H] F [F ...]");
}

// What each kind of argument does with a command line, through the whole dispatch.
class Knobs : public Subcommand {
 public:
  static constexpr std::string_view name = "knobs";
  static constexpr std::string_view help = "show what it was given";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description = "";

  explicit Knobs(const CommandSetup& setup) : Subcommand(setup) {
    parser.add_argument("word", "W", Kind::Text, "").one_or_more();
    parser.add_argument("--level", "N", Kind::Int, "").at_least(0);
    parser.add_argument("--colour", "C", Kind::Text, "").one_of({"red", "blue"});
    parser.add_flag("--loud", "");
  }
  Status run(const Arguments& args) override {
    out() << args["word"].to_repr() << ' ' << args["level"].to_repr() << ' '
          << args["colour"].to_repr() << ' ' << args["loud"].to_repr() << '\n';
    print_error("went on\x1b[31m");
    return {};
  }
};

struct KnobsCase {
  std::vector<const char*> words;
  int status;
  const char* out;
  const char* err;
};

void PrintTo(const KnobsCase& c, std::ostream* os) {
  for (const char* word : c.words) *os << word << ' ';
}

class KnobsCommandLine : public ::testing::TestWithParam<KnobsCase> {};

TEST_P(KnobsCommandLine, ParsesOrNamesTheFault) {
  std::ostringstream out;
  std::ostringstream err;
  Program tool("tool", "", out, err);
  tool.set_version("tool 1.2.3");
  tool.add<Knobs>();
  std::vector<const char*> words = GetParam().words;
  words.insert(words.begin(), "tool");
  EXPECT_EQ(tool.main(static_cast<int>(words.size()), words.data()), GetParam().status);
  EXPECT_EQ(out.str(), GetParam().out);
  const std::string usage =
      GetParam().status == USAGE_ERROR
          ? "usage: tool knobs [-h] [--level N] [--colour C] [--loud] W [W ...]\n"
          : "";
  EXPECT_EQ(err.str(), usage + GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, KnobsCommandLine,
    ::testing::Values(
        KnobsCase{{"knobs", "a", "-", "--loud", "--level=0", "--colour", "red"}, 0,
                  "['a', '-'] 0 'red' True\n", "tool: error: went on\\x1b[31m\n"},
        KnobsCase{{"knobs", "--", "-x"}, 0, "['-x'] None None False\n",
                  "tool: error: went on\\x1b[31m\n"},
        KnobsCase{{"--version"}, 0, "tool 1.2.3\n", ""},
        KnobsCase{{"knobs", "a", "--level", "-1"}, USAGE_ERROR, "",
                  "tool knobs: error: argument --level N: must be 0 or more, not -1\n"},
        KnobsCase{{"knobs", "a", "--level"}, USAGE_ERROR, "",
                  "tool knobs: error: argument --level N: expected one value\n"},
        KnobsCase{{"knobs", "a", "--colour=green"}, USAGE_ERROR, "",
                  "tool knobs: error: argument --colour C: invalid choice: 'green' (choose "
                  "from 'red', 'blue')\n"},
        KnobsCase{{"knobs", "a", "--bogus", "--x=\n"}, USAGE_ERROR, "",
                  "tool knobs: error: unrecognized arguments: --bogus --x=\\n\n"},
        KnobsCase{{"knobs", "a", "--loud=no"}, USAGE_ERROR, "",
                  "tool knobs: error: argument --loud: takes no value\n"},
        KnobsCase{{"knobs"}, USAGE_ERROR, "",
                  "tool knobs: error: the following arguments are required: W\n"}));


TEST(Program, DispatchesThroughGroups) {
  const Outcome r = run({"say", "repeat", "--times", "2", "hi"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hi\nhi\n");
  EXPECT_EQ(r.err, "");
  const Outcome status = run({"say", "repeat", "hi", "--times=0"});
  EXPECT_EQ(status.status, 3);
}

TEST(Program, HelpAtEveryLevel) {
  const Outcome top = run({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out,
            "usage: tool [-h] <command> ...\n"
            "\n"
            "A tool for tests.\n"
            "\n"
            "commands:\n"
            "  say         say things\n"
            "  fail        fail on purpose\n"
            "\n"
            "options:\n"
            "  -h, --help  show this help message and exit\n");
  const Outcome group = run({"say", "-h"});
  EXPECT_EQ(group.status, 0);
  EXPECT_TRUE(group.out.starts_with("usage: tool say [-h] <command> ...\n\nCommands that say "
                                    "things.\n\ncommands:\n  repeat      say a word again\n"))
      << group.out;
  const Outcome leaf = run({"say", "repeat", "--help"});
  EXPECT_EQ(leaf.status, 0);
  EXPECT_EQ(leaf.out,
            "usage: tool say repeat [--times N] word\n"
            "\n"
            "Says the given word as many times as asked, one per line.\n"
            "\n"
            "positional arguments:\n"
            "  word        what to say\n"
            "\n"
            "options:\n"
            "  -h, --help  show this help message and exit\n"
            "  --times N   how often; once when left out\n");
  EXPECT_EQ(run({"fail", "--help"}).out,
            "usage: tool fail [-h]\n\noptions:\n  -h, --help  show this help message and exit\n");
}

struct UsageError {
  std::vector<const char*> words;
  const char* err;
};

class ProgramUsageError : public ::testing::TestWithParam<UsageError> {};

TEST_P(ProgramUsageError, PrintsUsageAndMessage) {
  const Outcome r = run(GetParam().words);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, GetParam().err);
}

void PrintTo(const UsageError& c, std::ostream* os) {
  for (const char* word : c.words) *os << word << ' ';
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ProgramUsageError,
    ::testing::Values(
        UsageError{{"say", "repeat"},
                   "usage: tool say repeat [--times N] word\n"
                   "tool say repeat: error: the following arguments are required: word\n"},
        UsageError{{"say", "repeat", "--times", "x", "hi"},
                   "usage: tool say repeat [--times N] word\n"
                   "tool say repeat: error: argument --times N: invalid int value: 'x'\n"},
        UsageError{{"say", "repeat", "a", "b"},
                   "usage: tool say repeat [--times N] word\n"
                   "tool say repeat: error: unrecognized arguments: b\n"},
        UsageError{{"say"},
                   "usage: tool say [-h] <command> ...\n"
                   "tool say: error: a command is required (choose from repeat)\n"},
        UsageError{{"say", "shout", "hi"},
                   "usage: tool say [-h] <command> ...\n"
                   "tool say: error: invalid command 'shout' (choose from repeat)\n"},
        UsageError{{"sya"},
                   "usage: tool [-h] <command> ...\n"
                   "tool: error: invalid command 'sya' (choose from say, fail)\n"},
        UsageError{{"--verbose", "say", "repeat", "hi"},
                   "usage: tool say repeat [--times N] word\n"
                   "tool say repeat: error: unrecognized arguments: --verbose\n"},
        UsageError{{"--verbose"},
                   "usage: tool [-h] <command> ...\n"
                   "tool: error: unrecognized arguments: --verbose\n"},
        UsageError{{},
                   "usage: tool [-h] <command> ...\n"
                   "tool: error: a command is required (choose from say, fail)\n"}));

TEST(Program, ErrorOutOfRunIsOneLine) {
  const Outcome r = run({"fail"});
  EXPECT_EQ(r.status, ERROR);
  EXPECT_EQ(r.out, "partial");
  EXPECT_EQ(r.err, "tool: error: broke at\\nline 2\n");
}

TEST(Arguments, UnknownNameIsALookupError) {
  Arguments args;
  args.set("file", "a.json");
  EXPECT_EQ(args["file"], Value("a.json"));
  EXPECT_THROW(args["files"], LookupError);
}

// Short spellings and required options, through the whole dispatch.
class Export : public Subcommand {
 public:
  static constexpr std::string_view name = "export";
  static constexpr std::string_view help = "";
  static constexpr std::string_view usage = "";
  static constexpr std::string_view description = "";

  explicit Export(const CommandSetup& setup) : Subcommand(setup) {
    parser.add_argument("file", "FILE", Kind::Text, "");
    parser.add_argument("--output", "PATH", Kind::Text, "where to write")
        .abbreviated("-o")
        .mandatory();
    parser.add_flag("--quiet", "say less").abbreviated("-q");
  }
  Status run(const Arguments& args) override {
    out() << args["output"].to_repr() << ' ' << args["quiet"].to_repr() << '\n';
    return {};
  }
};

TEST(Program, ShortNamesAndRequiredOptions) {
  const auto run = [](std::vector<const char*> words, std::string& out_text,
                      std::string& err_text) {
    std::ostringstream out;
    std::ostringstream err;
    Program tool("tool", "", out, err);
    tool.add<Export>();
    words.insert(words.begin(), "tool");
    const int status = tool.main(static_cast<int>(words.size()), words.data());
    out_text = out.str();
    err_text = err.str();
    return status;
  };
  std::string out;
  std::string err;
  EXPECT_EQ(run({"export", "a", "-o", "x", "-q"}, out, err), 0);
  EXPECT_EQ(out, "'x' True\n");
  EXPECT_EQ(run({"export", "a", "--output=y"}, out, err), 0);
  EXPECT_EQ(out, "'y' False\n");
  EXPECT_EQ(run({"export", "a"}, out, err), USAGE_ERROR);
  EXPECT_EQ(err,
            "usage: tool export [-h] --output PATH [--quiet] FILE\n"
            "tool export: error: the following arguments are required: --output\n");
  EXPECT_EQ(run({"export", "--help"}, out, err), 0);
  EXPECT_NE(out.find("  -o, --output PATH"), std::string::npos) << out;
  EXPECT_NE(out.find("  -q, --quiet"), std::string::npos) << out;

  ArgumentParser parser("p", "", "");
  EXPECT_THROW(parser.add_argument("f", "F", Kind::Text, "").abbreviated("-f"), ArgumentError);
  EXPECT_THROW(parser.add_argument("--g", "G", Kind::Text, "").abbreviated("g"), ArgumentError);
  EXPECT_THROW(parser.add_flag("--h", "").mandatory(), ArgumentError);
}

}  // namespace
}  // namespace morvi::cli
