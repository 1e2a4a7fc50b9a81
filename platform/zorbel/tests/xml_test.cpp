// The element tree and its two text forms.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::zorbel::xml {
namespace {

using namespace std::string_literals;

TEST(XmlWriter, CompactFormEscapesOnlyMarkup) {
  Document doc("root");
  Element root = doc.root();
  root.set_attribute("a", "x\"y\n\tz\r&<>");
  Element list = root.append_child("list");
  list.append_child("item").set_text("one & <two>\r\n");
  list.append_child("empty");
  root.append_child("text").set_text("  keep  ");
  EXPECT_EQ(to_bytes(doc).view(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<root a=\"x&quot;y&#10;&#9;z&#13;&amp;&lt;&gt;\"><list><item>one &amp; "
            "&lt;two&gt;&#13;\n</item><empty/></list><text>  keep  </text></root>");
}

TEST(XmlWriter, DeepTreesAreWrittenWithoutRecursion) {
  Document doc("level");
  Element e = doc.root();
  for (int depth = 1; depth < kMaxDepth; ++depth) e = e.append_child("level");
  e.set_text("x");
  const std::string bytes = to_bytes(doc).str();
  EXPECT_NE(bytes.find("<level>x</level></level>"), std::string::npos);
  EXPECT_EQ(bytes.size(), 39 + (kMaxDepth - 1) * std::string("<level></level>").size() + 16);
}

TEST(XmlElement, RefusesNestingBeyondTheLimit) {
  Document doc("level");
  Element e = doc.root();
  for (int depth = 1; depth < kMaxDepth; ++depth) e = e.append_child("level");
  EXPECT_EQ(e.depth(), kMaxDepth);
  try {
    e.append_child("deeper");
    FAIL() << "nesting beyond the limit must be refused";
  } catch (const ArgumentError& error) {
    EXPECT_NE(std::string(error.what()).find(std::to_string(kMaxDepth)), std::string::npos);
  }
}

TEST(XmlElement, SettingAnAttributeAgainReplacesItInPlace) {
  Document doc("root");
  doc.root().set_attribute("a", "1");
  doc.root().set_attribute("b", "2");
  doc.root().set_attribute("a", "3");
  EXPECT_EQ(to_bytes(doc).view(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root a=\"3\" b=\"2\"/>");
}

// The text and the attribute value libxml2 reads back from the compact form of a document
// whose root holds `text` both ways; nullopt when it cannot parse it.
std::optional<std::pair<std::string, std::string>> read_back(std::string_view text) {
  Document doc("root");
  doc.root().set_attribute("a", text);
  doc.root().set_text(text);
  const std::string bytes = to_bytes(doc).str();
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> parsed(
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                    XML_PARSE_NOERROR | XML_PARSE_NONET),
      xmlFreeDoc);
  if (!parsed) return std::nullopt;
  const xmlNode* root = xmlDocGetRootElement(parsed.get());
  xmlChar* content = xmlNodeGetContent(root);
  xmlChar* attribute = xmlGetProp(root, reinterpret_cast<const xmlChar*>("a"));
  std::pair<std::string, std::string> result(reinterpret_cast<const char*>(content),
                                             reinterpret_cast<const char*>(attribute));
  xmlFree(content);
  xmlFree(attribute);
  return result;
}

// What XML cannot carry is stored in its notation, so the document always parses; other
// text, markup characters and white space included, comes back as it was set.
TEST(XmlElement, TextsXmlCannotCarryAreStoredInTheirNotation) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\vb", "a\\x0bb"},
      {"a\0b\0"s, "a\\x00b\\x00"},
      {"\x1b[0m", "\\x1b[0m"},
      {"x\xff", "x\\xff"},
      {"\xed\xa0\x80", "\\ud800"},
      {"\xef\xbf\xbf", "\\uffff"},
      {"truncated \xe2\x82", "truncated \\xe2\\x82"},
      {"kept: caf\xc3\xa9 \xf0\x9f\x98\x80 <&> \t\n \x7f \\x00", "kept: caf\xc3\xa9 \xf0\x9f\x98\x80 <&> \t\n \x7f \\x00"}};
  for (const auto& [text, expected] : cases) {
    const auto back = read_back(text);
    ASSERT_TRUE(back.has_value()) << expected;
    EXPECT_EQ(back->first, expected);
    EXPECT_EQ(back->second, expected);
  }
}

// The same calls, in document order, on a tree and on text writers, one of them handing its
// text over in pieces: random nesting, text, attributes set again, hostile characters.
TEST(TextWriter, WritesWhatTheTreeSerialisesTo) {
  static const char* const kTags[] = {"a", "item", "testStep", "commonSubSection"};
  static const char* const kNames[] = {"key", "type", "name"};
  static const std::string kPieces[] = {"",  "x",  "&",  "<",   ">",    "\"", "\r",
                                        "\n", "\t", "\x01", "\xff", "\xc3\xa9", "]]>", "  "};
  std::mt19937 rng(7);
  const auto text = [&rng] {
    std::string t;
    for (std::size_t n = rng() % 4; n > 0; --n) t += kPieces[rng() % std::size(kPieces)];
    return t;
  };
  for (int round = 0; round < 2000; ++round) {
    Document tree("root");
    TextWriter stream("root");
    // A third writer hands its text over in pieces of a few bytes.
    std::vector<std::string> pieces;
    TextWriter pieced("root", [&pieces](std::string_view piece) { pieces.emplace_back(piece); },
                      rng() % 64);
    struct Level {
      Element in_tree;
      Element in_stream;
      Element in_pieces;
      bool has_content;
    };
    std::vector<Level> open{{tree.root(), stream.root(), pieced.root(), false}};
    for (std::size_t steps = rng() % 30; steps > 0; --steps) {
      // Any open element; those opened inside it are closed by what it is given.
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(1 + rng() % open.size()), open.end());
      Level& at = open.back();
      switch (rng() % 3) {
        case 0: {
          const char* tag = kTags[rng() % std::size(kTags)];
          at.has_content = true;
          open.push_back({at.in_tree.append_child(tag), at.in_stream.append_child(tag),
                          at.in_pieces.append_child(tag), false});
          break;
        }
        case 1: {
          const std::string t = text();
          at.in_tree.set_text(t);
          at.in_stream.set_text(t);
          at.in_pieces.set_text(t);
          at.has_content = at.has_content || !t.empty();
          break;
        }
        default: {
          if (at.has_content) break;
          const char* name = kNames[rng() % std::size(kNames)];
          const std::string t = text();
          at.in_tree.set_attribute(name, t);
          at.in_stream.set_attribute(name, t);
          at.in_pieces.set_attribute(name, t);
        }
      }
    }
    const std::string bytes(to_bytes(tree).view());
    ASSERT_EQ(stream.finish().view(), bytes) << "round " << round;
    EXPECT_EQ(pieced.finish().size(), 0u);
    std::string joined;
    for (const std::string& piece : pieces) {
      // Every piece ends a tag, so none cuts a tag or a text.
      EXPECT_TRUE(piece.ends_with('>')) << piece;
      joined += piece;
    }
    ASSERT_EQ(joined, bytes) << "round " << round;
  }
}

TEST(TextWriter, RefusesWhatDocumentOrderRulesOut) {
  TextWriter writer("root");
  const Element root = writer.root();
  const Element first = root.append_child("first");
  root.append_child("second").set_text("x");
  EXPECT_THROW(first.set_text("late"), std::logic_error);
  EXPECT_THROW(first.append_child("late"), std::logic_error);
  EXPECT_THROW(root.set_attribute("late", "1"), std::logic_error);
  EXPECT_EQ(writer.finish().view(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root><first/><second>x</second></root>");
  EXPECT_THROW(root.append_child("after"), std::logic_error);

  TextWriter deep("level");
  Element e = deep.root();
  for (int depth = 1; depth < kMaxDepth; ++depth) e = e.append_child("level");
  EXPECT_THROW(e.append_child("deeper"), ArgumentError);
}

}  // namespace
}  // namespace morvi::zorbel::xml
