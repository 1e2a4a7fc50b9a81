// The quick reader against libxml2 as the oracle: whatever it takes, libxml2 reads as
// well-formed and indents to the same text; and it takes everything the compact writer
// produces, so the fast path is the one that runs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../src/pretty_print.hpp"
#include "morvi/errors.hpp"
#include "morvi/zorbel/xml.hpp"

namespace morvi::reporter::markfolio {
namespace {

// libxml2's indented text, or nothing when it refuses the document.
std::optional<std::string> oracle(std::string_view bytes) {
  try {
    return libxml2_pretty_print(bytes, "  ", "test").str();
  } catch (const ParseError&) {
    return std::nullopt;
  } catch (const SerializationError&) {
    return std::nullopt;
  }
}

// True when the quick reader took the document; fails the test when it took one libxml2
// refuses or indents differently.
bool agrees(std::string_view bytes) {
  const std::optional<utils::DocumentBuffer> quick = quick_pretty_print(bytes, "  ");
  if (!quick) return false;
  const std::optional<std::string> expected = oracle(bytes);
  EXPECT_TRUE(expected.has_value()) << "taken, but libxml2 refuses: "
                                    << ::testing::PrintToString(std::string(bytes));
  if (expected) {
    EXPECT_EQ(quick->view(), *expected) << ::testing::PrintToString(std::string(bytes));
  }
  return true;
}

// Bytes that make trouble in XML: markup, references, white space, control bytes, stray and
// truncated UTF-8, encoded surrogates and noncharacters.
const std::vector<std::string>& hostile_pieces() {
  static const std::vector<std::string> pieces = {
      "<", ">", "&", "\"", "'", "/", "=", " ", "\t", "\n", "\r", "\r\n", "\v", std::string(1, '\0'),
      "\x1b", "\x7f", "\xff", "\xc3", "\xc3\xa9", "\xc0\x80", "\xe0\x80\x80", "\xed\xa0\x80",
      "\xef\xbf\xbe", "\xef\xbf\xbd", "\xf0\x9f\x98\x80", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80",
      "]]>", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#13;", "&#10;", "&#9;", "&#0;",
      "&#x41;", "&#65;", "&undefined;", "&amp", "<!-- c -->", "<?pi x?>", "<![CDATA[x]]>",
      "xmlns=\"urn:x\"", " xmlns:p=\"u\"", "p:q", "</a>", "<a>", "<a/>", "<b x=\"1\" x=\"2\"/>",
      "<!DOCTYPE a>", "\xc3\xa9l\xc3\xa9ment", ":", "-", ".", "9"};
  return pieces;
}

std::string random_text(std::mt19937& rng, std::size_t pieces) {
  std::string text;
  const auto& all = hostile_pieces();
  std::uniform_int_distribution<std::size_t> pick(0, all.size() - 1);
  std::uniform_int_distribution<int> letter('a', 'z');
  for (std::size_t i = 0; i < pieces; ++i) {
    if (rng() % 2) {
      text += all[pick(rng)];
    } else {
      text += static_cast<char>(letter(rng));
    }
  }
  return text;
}

// A random tree with hostile texts and attribute values, in the compact form. As in the
// reports, an element holds either text or child elements.
std::string random_document(std::mt19937& rng) {
  static const char* const kTags[] = {"root", "item", "diag", "x_y", "a-b.c", "T9"};
  static const char* const kKeys[] = {"key", "type", "name", "path", "begin"};
  struct Open {
    zorbel::xml::Element element;
    bool has_text = false;
    bool has_children = false;
  };
  const zorbel::xml::Document doc("root");
  std::vector<Open> open{{doc.root()}};
  const std::size_t steps = 1 + rng() % 40;
  for (std::size_t i = 0; i < steps; ++i) {
    Open& parent = open[rng() % open.size()];
    switch (rng() % 4) {
      case 0:
        if (parent.has_children) break;
        parent.element.set_text(random_text(rng, rng() % 6));
        parent.has_text = true;
        break;
      case 1: parent.element.set_attribute(kKeys[rng() % 5], random_text(rng, rng() % 6)); break;
      default: {
        if (parent.has_text) break;
        parent.has_children = true;
        const zorbel::xml::Element child = parent.element.append_child(kTags[rng() % 6]);
        open.push_back({child});
        break;
      }
    }
  }
  return std::string(zorbel::xml::to_bytes(doc).view());
}

TEST(QuickReader, TakesEveryTreeTheCompactWriterProduces) {
  std::mt19937 rng(12);
  for (int i = 0; i < 3000; ++i) {
    const std::string bytes = random_document(rng);
    EXPECT_TRUE(agrees(bytes)) << "left to libxml2: " << ::testing::PrintToString(bytes);
  }
}

TEST(QuickReader, NeverTakesWhatLibxml2RefusesOrIndentsDifferently) {
  std::mt19937 rng(34);
  const auto& pieces = hostile_pieces();
  int taken = 0;
  int refused_by_libxml2 = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string bytes = random_document(rng);
    // One to three edits: a hostile piece put in, a byte dropped or a byte replaced.
    for (std::size_t edits = 1 + rng() % 3; edits > 0; --edits) {
      const std::size_t at = rng() % (bytes.size() + 1);
      switch (rng() % 3) {
        case 0: bytes.insert(at, pieces[rng() % pieces.size()]); break;
        case 1: if (at < bytes.size()) bytes.erase(at, 1); break;
        default: if (at < bytes.size()) bytes[at] = static_cast<char>(rng() % 256); break;
      }
    }
    if (agrees(bytes)) ++taken;
    if (!oracle(bytes)) ++refused_by_libxml2;
  }
  // Both verdicts occur often enough for the comparison to mean something.
  EXPECT_GT(taken, 1000);
  EXPECT_GT(refused_by_libxml2, 5000);
}

TEST(QuickReader, HandPickedHostileDocuments) {
  for (const std::string& bytes : std::initializer_list<std::string>
       {"<a b=\"1\" b=\"2\"/>", "<a xmlns=\"urn:x\"/>", "<xmlfoo/>", "<a>]]></a>", "<a>x]]>y</a>",
        "<a>\xed\xa0\x80</a>", "<a>\xef\xbf\xbe</a>", "<a>\xf4\x90\x80\x80</a>", "<a>\xc0\x80</a>",
        "<a>\xc3</a>", "<a>\xe2\x82</a>", "<a>x</b>", "<a/><b/>", "<a/>x", "x<a/>", "<a>&#0;</a>",
        "<a b=\"\t\"/>", "<a b=\"x<y\"/>", "<a b='x'/>", "<a b=\"x\"c=\"y\"/>", "<a b=\"x\"", "<a",
        "<a>", "", " ", "<a/>\n\n", "\n<a/>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>",
        "<?xml version=\"1.0\"?><a/>", " <?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>",
        "<a><b/> </a>", "<a> <b/></a>", "<a>x<b/>y</a>", "<a>\r</a>", "<a>&quot;</a>",
        std::string("<a>\0</a>", 8), "<a>\xf0\x9f\x98\x80\xc3\xa9</a>", "<a b=\"&#9;&#10;&#13;\"/>"}) {
    agrees(bytes);
  }
}

TEST(QuickReader, NestingUpToTheTreeLimitIsTakenDeeperIsLeftToLibxml2) {
  const auto nested = [](int depth) {
    std::string bytes;
    for (int i = 0; i < depth; ++i) bytes += "<l>";
    for (int i = 0; i < depth; ++i) bytes += "</l>";
    return bytes;
  };
  EXPECT_TRUE(agrees(nested(zorbel::xml::kMaxDepth)));
  EXPECT_FALSE(quick_pretty_print(nested(zorbel::xml::kMaxDepth + 1), "  ").has_value());
}

}  // namespace
}  // namespace morvi::reporter::markfolio
