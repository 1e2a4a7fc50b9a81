// The YAML text of scalars and collections: style choice, quoting, escapes, literal blocks,
// folding at the line width, tags, keys and indentation.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/reporter/trialkit.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"

namespace morvi::reporter::trialkit {
namespace {

struct Written {
  const char* name;
  Value value;
  std::string yaml;  // of {"k": value}
};

// Test names and failure messages show the case by its name, not its bytes.
void PrintTo(const Written& c, std::ostream* os) { *os << c.name; }

class YamlUnderAKey : public ::testing::TestWithParam<Written> {};

TEST_P(YamlUnderAKey, IsExact) {
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"k", GetParam().value}})), GetParam().yaml);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Scalars, YamlUnderAKey,
    ::testing::Values(
        Written{"plain", Value("passed"), "k: passed\n"},
        Written{"reads_as_float", Value("3.4"), "k: '3.4'\n"},
        Written{"reads_as_null", Value(""), "k: ''\n"},
        Written{"reads_as_bool", Value("No"), "k: 'No'\n"},
        Written{"reads_as_sexagesimal_int", Value("1:30"), "k: '1:30'\n"},
        Written{"reads_as_timestamp", Value("2001-12-14 21:59:43.10 -5"), "k: '2001-12-14 21:59:43.10 -5'\n"},
        Written{"merge_key", Value("<<"), "k: '<<'\n"},
        Written{"inner_quote_stays_plain", Value("it's"), "k: it's\n"},
        Written{"leading_indicator", Value("- x"), "k: '- x'\n"},
        Written{"colon_space", Value("a: b"), "k: 'a: b'\n"},
        Written{"space_hash", Value("a #b"), "k: 'a #b'\n"},
        Written{"leading_space", Value(" x"), "k: ' x'\n"},
        Written{"quote_doubled", Value("'q"), "k: '''q'\n"},
        Written{"tab", Value("a\tb"), "k: \"a\\tb\"\n"},
        Written{"beyond_ascii", Value("\xc3\xa9\xe2\x80\xa8\xf0\x9f\x98\x80"), "k: \"\\xE9\\L\\U0001F600\"\n"},
        Written{"not_utf8", Value("a\xffz"), "k: \"a\\uFFFDz\"\n"},
        Written{"literal_strips_line_ends", Value("a  \nb"), "k: |-\n  a\n  b\n"},
        Written{"literal_indent_hint", Value(" x\ny\n"), "k: |2\n   x\n  y\n"},
        Written{"literal_keep_ends_the_document", Value("x\n\n"), "k: |+\n  x\n\n...\n"},
        Written{"literal_impossible", Value("a\n\tb"), "k: \"a\\n\\tb\"\n"},
        Written{"plain_folds_past_the_width",
                Value("alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi"),
                "k: alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron\n"
                "  pi\n"},
        // Only a single space past the width becomes a break.
        Written{"quoted_folds_at_a_single_space",
                Value("'alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu  xi omicron pi"),
                "k: '''alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu  xi omicron\n"
                "  pi'\n"},
        Written{"double_quoted_breaks_with_backslash",
                Value("\tlpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi"),
                "k: \"\\tlpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron\\\n"
                "  \\ pi\"\n"},
        Written{"real_two_decimals", Value(0.333333), "k: 0.33\n"},
        Written{"real_whole", Value(2.0), "k: 2.0\n"},
        Written{"real_ties_to_even_from_binary", Value::list({0.125, 2.675, 0.005}),
                "k:\n  - 0.12\n  - 2.67\n  - 0.01\n"},
        Written{"real_exponent_tagged", Value(1e16), "k: !!float '1e+16'\n"},
        Written{"real_non_finite_tagged", Value::list({kNaN, -kInf}), "k:\n  - !!float 'nan'\n  - !!float '-inf'\n"},
        Written{"real_negative_zero", Value(-0.0), "k: -0.0\n"},
        Written{"plain_kinds", Value::list({Value(), true, -3, DateTime(2024, 1, 2, 3, 4, 5, 6, 0)}),
                "k:\n  - null\n  - true\n  - -3\n  - 2024-01-02 03:04:05.000006+00:00\n"},
        Written{"empty_collections", Value::list({Value(List{}), Value(Map{})}), "k:\n  - []\n  - {}\n"},
        Written{"nested_sequences_and_maps", Value::list({Value::list({1}), Value(Map{{"b", 1}, {"a", 2}})}),
                "k:\n  - - 1\n  - a: 2\n    b: 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(YamlKeys, LongAndMultiLineKeysAreWrittenAsComplexKeys) {
  const std::string longest_simple(122, 'k'), too_long(123, 'k');
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{longest_simple, 1}})), longest_simple + ": 1\n");
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{too_long, 1}})), "? " + too_long + "\n: 1\n");
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"a\nb", Value::list({1})}})), "? |-\n  a\n  b\n: - 1\n");
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"", 1}})), "? ''\n: 1\n");
}

TEST(YamlKeys, WordsThatReadBackAsAnotherKindAreQuoted) {
  const std::string longest_simple(122, 'x');
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"true", 1}, {"3", 2}, {"~", 3}, {"plain", 4}, {"-x", 5}, {"a:b", 6},
                                       {"null", 7}, {longest_simple, 8}})),
            "-x: 5\n'3': 2\na:b: 6\n'null': 7\nplain: 4\n'true': 1\n" + longest_simple + ": 8\n'~': 3\n");
  // Keys after a nested collection and as the first key of a nested mapping.
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"a", Value(Map{{"on", Value::list({1})}, {"b", 2}})}, {"c", 3}})),
            "a:\n  b: 2\n  'on':\n    - 1\nc: 3\n");
}

// Date-times and other scalars written without analysis still fold at the line width.
TEST(YamlScalars, PlainDateTimesFoldPastTheWidthUnderDeepNesting) {
  Value inner(Map{{"k", DateTime(2024, 1, 2, 3, 4, 5, 6, 0)}, {"n", -12}, {"s", "word"}});
  std::string expected;
  for (int depth = 0; depth < 40; ++depth) {
    inner = Value(Map{{"a", inner}});
    expected += std::string(2 * static_cast<std::size_t>(depth), ' ') + "a:\n";
  }
  const std::string indent(80, ' ');
  expected += indent + "k: 2024-01-02\n" + indent + "  03:04:05.000006+00:00\n" + indent + "n: -12\n" + indent +
              "s: word\n";
  EXPECT_EQ(YAMLDumper::dump(inner), expected);
}

// Puts `representer` in the table for `type` while it lives, then the one it replaced.
class RepresenterSwap {
 public:
  RepresenterSwap(std::optional<YAMLType> type, YAMLDumper::Representer representer)
      : type_(type), restored_(YAMLDumper::representer(type)) {
    YAMLDumper::add_representer(type, representer);
  }
  ~RepresenterSwap() { YAMLDumper::add_representer(type_, restored_); }
  RepresenterSwap(const RepresenterSwap&) = delete;
  RepresenterSwap& operator=(const RepresenterSwap&) = delete;

 private:
  std::optional<YAMLType> type_;
  YAMLDumper::Representer restored_;
};

// The representers registered when a test began, by type.
YAMLDumper::Representer standard[kYAMLTypeCount];

// The standard representer of `type`, called through another entry in the table.
template <YAMLType type>
void through(YAMLDumper& dumper, const Value& data) {
  standard[static_cast<std::size_t>(type)](dumper, data);
}

// A report whose nodes have ids of several kinds: words, a number, texts that need quotes.
std::shared_ptr<TrialKit> report_with_ids() {
  auto job = TrialKit::create(Value("job"), Value(1));
  auto task = job->add_task(Value("t"), Value(1));
  job->add_plugin(Value("p"), Value(2));
  std::shared_ptr<Section> section = task->add_section(Value(7), Value(1));
  for (const Value& id : {Value("two words"), Value("3.4"), Value("s"), Value(std::string(90, 'x'))})
    section = section->add_section(id, Value(1));
  task->add_section(Value("on"), Value(2));
  return job;
}

// Pairs and items of plain scalars are written as whole lines, and a node's fullid and idlist
// from its ancestors' ids, apart from the events. With representers of the same effect
// registered for every scalar kind, none takes those ways: both write the same bytes at every
// depth, past the width too, before and after every kind of node.
TEST(YamlShortWays, WriteWhatTheEventsWrite) {
  const DateTime when(2024, 1, 2, 3, 4, 5, 6, 0);
  Value inner(Map{});
  std::vector<Value> documents;
  for (int depth = 0; depth < 48; ++depth) {
    inner = Value(Map{{"kk", when},
                      {"n", -12},
                      {"r", 0.5},
                      {"e", 1e16},
                      {"t", true},
                      {"none", Value()},
                      {"word", "passed"},
                      {"long_word_" + std::string(static_cast<std::size_t>(depth), 'w'), "x"},
                      {"on", 1},
                      {"list", Value::list({1, when, "w", 0.25, Value(), false, "3.4", Value(Map{{"a", when}}),
                                            Value::list({when, "two words"})})},
                      {"empty", Value(List{})},
                      {"quoted", "3.4"},
                      {"spaces", "a b c d e f g h i j k l m n o p q r s t u v w x y z a b c d e f g h"},
                      {"lines", "a\nb"},
                      {"z", inner}});
    documents.push_back(inner);
  }
  documents.push_back(Value::node(report_with_ids()));
  std::vector<std::string> short_ways;
  for (const Value& document : documents) short_ways.push_back(YAMLDumper::dump(document));
  for (std::size_t type = 0; type < kYAMLTypeCount; ++type)
    standard[type] = YAMLDumper::representer(static_cast<YAMLType>(type));
  const RepresenterSwap swaps[] = {
      {YAMLType::Str, through<YAMLType::Str>},           {YAMLType::Float, through<YAMLType::Float>},
      {YAMLType::Int, through<YAMLType::Int>},           {YAMLType::Bool, through<YAMLType::Bool>},
      {YAMLType::NoneType, through<YAMLType::NoneType>}, {YAMLType::DateTime, through<YAMLType::DateTime>},
  };
  for (std::size_t i = 0; i < documents.size(); ++i) EXPECT_EQ(short_ways[i], YAMLDumper::dump(documents[i])) << i;
}

// Where the key of the mapping `keyed_by_buffer` writes lives: one key, at one address, whose
// text changes at `changed` from the second mapping of a document on, as the keys of a
// computed value freed after its mapping can at the next one's address.
char key_buffer[24];
std::size_t key_size = 0;
std::size_t changed = 0;
int mappings = 0;

// Writes any object as the mapping {key_buffer: 1}.
void keyed_by_buffer(YAMLDumper& dumper, const Value&) {
  if (mappings++ == 1) key_buffer[changed] = '\t';
  YAMLDumper::MappingParts& parts = dumper.mapping_parts();
  parts.values.reserve(1);
  parts.pairs.emplace_back(std::string_view(key_buffer, key_size), &parts.values.emplace_back(1));
  dumper.represent_parts(YAML_MAP);
}

class Gadget : public Object {
 public:
  std::string type_name() const override { return "Gadget"; }
};

// Keys found plain are remembered by address: a key at that address whose text has changed
// anywhere since is checked anew. A tab anywhere makes a word need double quotes.
TEST(YamlKeys, AKeyAtARememberedAddressIsCheckedAnew) {
  const RepresenterSwap objects(std::nullopt, keyed_by_buffer);
  const Value gadgets = Value::list({Value::opaque(std::make_shared<Gadget>()), Value::opaque(std::make_shared<Gadget>())});
  for (key_size = 1; key_size <= sizeof key_buffer; ++key_size) {
    for (changed = 0; changed < key_size; ++changed) {
      std::memset(key_buffer, 'a', sizeof key_buffer);
      mappings = 0;
      std::string tabbed(key_size, 'a');
      tabbed[changed] = '\t';
      const std::string quoted = YAMLDumper::dump(Value::list({Value(Map{{tabbed, 1}})}));
      EXPECT_NE(quoted.find('"'), std::string::npos);
      EXPECT_EQ(YAMLDumper::dump(gadgets), "- " + std::string(key_size, 'a') + ": 1\n" + quoted)
          << key_size << " " << changed;
    }
  }
}

// A representer registered for a kind of scalar writes the values of pairs too.
TEST(YamlPairs, RegisteredScalarRepresentersWritePairValues) {
  const RepresenterSwap reals(YAMLType::Float,
                              [](YAMLDumper& dumper, const Value&) { dumper.represent_scalar("!r", "half"); });
  EXPECT_EQ(YAMLDumper::dump(Value(Map{{"a", 0.5}, {"b", "x"}})), "a: !r 'half'\nb: x\n");
}

TEST(YamlRoot, AScalarDocumentIsOpenEnded) {
  EXPECT_EQ(YAMLDumper::dump(Value("passed")), "passed\n...\n");
  EXPECT_EQ(YAMLDumper::dump(Value("3.4")), "'3.4'\n");
  EXPECT_EQ(YAMLDumper::dump(Value(List{})), "[]\n");
}

}  // namespace
}  // namespace morvi::reporter::trialkit
