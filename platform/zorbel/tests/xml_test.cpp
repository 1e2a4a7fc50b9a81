// The element tree and its two text forms.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>

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
  EXPECT_EQ(to_bytes(doc),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<root a=\"x&quot;y&#10;&#9;z&#13;&amp;&lt;&gt;\"><list><item>one &amp; "
            "&lt;two&gt;&#13;\n</item><empty/></list><text>  keep  </text></root>");
}

TEST(XmlWriter, DeepTreesAreWrittenWithoutRecursion) {
  Document doc("level");
  Element e = doc.root();
  for (int depth = 1; depth < kMaxDepth; ++depth) e = e.append_child("level");
  e.set_text("x");
  const std::string bytes = to_bytes(doc);
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

TEST(XmlElement, RefusesNulBytesWhichLibxml2CannotHold) {
  Document doc("root");
  EXPECT_THROW(doc.root().set_text("a\0b"s), ArgumentError);
  EXPECT_THROW(doc.root().set_attribute("k", "\0"s), ArgumentError);
}

TEST(XmlElement, SettingAnAttributeAgainReplacesItInPlace) {
  Document doc("root");
  doc.root().set_attribute("a", "1");
  doc.root().set_attribute("b", "2");
  doc.root().set_attribute("a", "3");
  EXPECT_EQ(to_bytes(doc),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root a=\"3\" b=\"2\"/>");
}

TEST(XmlWriter, ControlCharactersAreWrittenAsTheyAreSoAParserRefusesThem) {
  Document doc("root");
  doc.root().set_text("a\vb");
  const std::string bytes = to_bytes(doc);
  EXPECT_NE(bytes.find("a\vb"), std::string::npos);
  xmlDoc* parsed = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                 nullptr, XML_PARSE_NOERROR);
  EXPECT_EQ(parsed, nullptr);
  xmlFreeDoc(parsed);
}

}  // namespace
}  // namespace morvi::zorbel::xml
