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
  const ArgumentParser::Argument n{"--n", "n", "N", Kind::Int, ""};
  const ArgumentParser::Argument x{"x", "x", "X", Kind::Float, ""};
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
                   "tool say repeat: error: The following argument was not expected: b\n"},
        UsageError{{"say"},
                   "usage: tool say [-h] <command> ...\n"
                   "tool say: error: A subcommand is required\n"},
        UsageError{{},
                   "usage: tool [-h] <command> ...\ntool: error: A subcommand is required\n"}));

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

}  // namespace
}  // namespace morvi::cli
