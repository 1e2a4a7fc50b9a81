// Parsing the rough bytes back and indenting them.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "../src/pretty_print.hpp"
#include "morvi/errors.hpp"

namespace morvi::reporter::markfolio {
namespace {

std::string indented(const std::string& bytes) { return pretty_print(bytes, "  ", "test").str(); }

TEST(PrettyPrint, OneElementPerLineTwoSpacesPerLevel) {
  const std::string compact =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<root a=\"x&quot;y&#10;&#9;z&#13;&amp;&lt;&gt;\" b=\"2\"><list><item>one &amp; "
      "&lt;two&gt;&#13;\n</item><empty/><empty></empty></list><text>  keep  </text></root>";
  const std::string pretty =
      "<?xml version=\"1.0\"?>\n"
      "<root a=\"x&quot;y&#10;&#9;z&#13;&amp;&lt;&gt;\" b=\"2\">\n"
      "  <list>\n"
      "    <item>one &amp; &lt;two&gt;&#13;\n</item>\n"
      "    <empty/>\n"
      "    <empty/>\n"
      "  </list>\n"
      "  <text>  keep  </text>\n"
      "</root>\n";
  EXPECT_EQ(indented(compact), pretty);
  // The indented form reads back as the same data, so indenting it again changes nothing.
  EXPECT_EQ(indented(pretty), pretty);
}

TEST(PrettyPrint, ElementsInsideTextStayOnTheTextLine) {
  EXPECT_EQ(indented("<a><b>x<c>y<d/></c> z</b></a>"),
            "<?xml version=\"1.0\"?>\n<a>\n  <b>x<c>y<d/></c> z</b>\n</a>\n");
}

TEST(PrettyPrint, EveryLevelIndentsByOneMoreUnit) {
  std::string deep;
  for (int i = 0; i < 1500; ++i) deep += "<l>";
  for (int i = 0; i < 1500; ++i) deep += "</l>";
  const std::string text = indented(deep);
  EXPECT_NE(text.find("\n" + std::string(2 * 1499, ' ') + "<l/>\n"), std::string::npos);
  EXPECT_NE(text.find("\n" + std::string(2 * 1498, ' ') + "</l>\n"), std::string::npos);
}

TEST(PrettyPrint, LargeInputsCrossChunkBoundaries) {
  std::string bytes = "<r>";
  std::string expected = "<?xml version=\"1.0\"?>\n<r>\n";
  for (int i = 0; i < 60000; ++i) {
    const std::string text = std::to_string(i) + " &amp; some text to fill the buffer";
    bytes += "<e k=\"" + std::to_string(i) + "\">" + text + "</e>";
    expected += "  <e k=\"" + std::to_string(i) + "\">" + text + "</e>\n";
  }
  bytes += "</r>";
  expected += "</r>\n";
  ASSERT_GT(bytes.size(), std::size_t{2} << 20);
  EXPECT_EQ(indented(bytes), expected);
}

// The text sent in pieces, and started again when the quick reader leaves a document to
// libxml2 after pieces went out, equals the text made whole in memory.
TEST(PrettyPrint, TextSentInPiecesStartsAgainWhenTheQuickReaderGivesUp) {
  std::string body;
  for (int i = 0; i < 60000; ++i) body += "<e k=\"" + std::to_string(i) + "\">text &amp; more</e>";
  // The space before '>' is well-formed, but outside the form the quick reader takes.
  for (const std::string tail : {"<e/>", "<e ></e>"}) {
    const std::string bytes = "<r>" + body + tail + "</r>";
    std::string sent;
    int pieces = 0;
    int restarts = 0;
    pretty_print_to(bytes, "  ", "test",
                    {[&](std::string_view piece) {
                       sent.append(piece);
                       ++pieces;
                     },
                     [&] {
                       sent.clear();
                       ++restarts;
                     }});
    EXPECT_EQ(sent, libxml2_pretty_print(bytes, "  ", "test").str()) << tail;
    EXPECT_GT(pieces, 1) << tail;
    EXPECT_EQ(restarts, tail == "<e/>" ? 0 : 1) << tail;
  }
}

TEST(PrettyPrint, MalformedBytesRaiseParseErrorWithPosition) {
  struct Case {
    const char* bytes;
    std::size_t line;
  };
  for (const Case& c : {Case{"<a>\n<b>\v</b></a>", 2}, Case{"<a>\xff</a>", 1},
                        Case{"<a><b></a>", 1}, Case{"", 1}, Case{"<a>&undefined;</a>", 1}}) {
    try {
      indented(c.bytes);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(std::string(c.bytes));
    } catch (const ParseError& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
      EXPECT_NE(std::string(e.what()).find("cannot parse the test XML"), std::string::npos);
    }
  }
}

TEST(PrettyPrint, RefusesWhatItCannotIndentWithoutChangingIt) {
  for (const char* bytes : {"<a><b/>text</a>", "<a><!-- note --></a>", "<a><?pi x?></a>",
                            "<!DOCTYPE a><a/>",
                            "<!DOCTYPE a [<!ENTITY x \"boom\">]><a>&x;</a>", "<x:a xmlns:x=\"urn:x\"/>"}) {
    EXPECT_THROW(indented(bytes), SerializationError) << bytes;
  }
}

// A document handed over in pieces cut after random tags is indented as the whole document
// is: by the quick reader, or by libxml2 on the pieces handed over again when the quick reader
// gives the document up.
TEST(PrettyPrint, PiecesCutAfterTagsIndentAsTheWholeDocument) {
  std::mt19937 rng(3);
  std::string body;
  for (int i = 0; i < 3000; ++i) body += "<e k=\"" + std::to_string(i) + "\">a &amp; b</e><f/>";
  for (const std::string tail : {"<e/>", "<e ></e>"}) {
    const std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>" + body + tail + "</r>";
    std::vector<std::string_view> pieces;
    std::size_t from = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '>' && (rng() % 40 == 0 || i + 1 == bytes.size())) {
        pieces.push_back(std::string_view(bytes).substr(from, i + 1 - from));
        from = i + 1;
      }
    }
    int productions = 0;
    std::string sent;
    pretty_print_pieces(
        [&](const std::function<void(std::string_view)>& use) {
          ++productions;
          for (std::string_view piece : pieces) use(piece);
        },
        "  ", "test",
        {[&](std::string_view piece) { sent.append(piece); }, [&] { sent.clear(); }});
    EXPECT_EQ(sent, indented(bytes)) << tail;
    EXPECT_EQ(productions, tail == "<e/>" ? 1 : 2) << tail;
  }
}

// What reading refuses is raised once the producer has handed over every piece, so that an
// error of the producer's own comes first.
TEST(PrettyPrint, PiecesRaiseTheProducersErrorFirst) {
  const TextSink ignored{[](std::string_view) {}, [] {}};
  int handed = 0;
  const auto produce = [&](bool fails) {
    return [&handed, fails](const std::function<void(std::string_view)>& use) {
      for (const char* piece : {"<r>", "<a>\v</a>", "<b/>", "</r>"}) {
        use(piece);
        ++handed;
      }
      if (fails) throw ArgumentError("too deep");
    };
  };
  EXPECT_THROW(pretty_print_pieces(produce(false), "  ", "test", ignored), ParseError);
  EXPECT_EQ(handed, 8);  // to the quick reader, then to libxml2
  EXPECT_THROW(pretty_print_pieces(produce(true), "  ", "test", ignored), ArgumentError);
}

}  // namespace
}  // namespace morvi::reporter::markfolio
