// The builder against nlohmann's own parser: a document's top-level value built from SAX
// events equals the value json::parse makes of the same text.
#include <string>

#include <gtest/gtest.h>

#include "morvi/json_stream/field_builder.hpp"

namespace {

using json = nlohmann::json;
using morvi::json_stream::FieldBuilder;

// Sends every event of a document to one builder, as a streaming reader does for one field.
class WholeDocument final : public nlohmann::json_sax<json> {
 public:
  json value;

  bool start_object(std::size_t) override { return open(json::object()); }
  bool start_array(std::size_t) override { return open(json::array()); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool key(string_t& k) override {
    builder_.key(k);
    return true;
  }
  bool null() override { return scalar(nullptr); }
  bool boolean(bool v) override { return scalar(v); }
  bool number_integer(number_integer_t v) override { return scalar(v); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(v); }
  bool number_float(number_float_t v, const string_t&) override { return scalar(v); }
  bool string(string_t& v) override { return scalar(v); }
  bool binary(binary_t&) override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool open(json container) {
    if (builder_.building()) builder_.nest(std::move(container));
    else builder_.begin(value, std::move(container));
    return true;
  }
  bool close() {
    EXPECT_TRUE(builder_.building());
    builder_.end();
    return true;
  }
  bool scalar(json v) {
    if (builder_.building()) builder_.add(std::move(v));
    else value = std::move(v);
    return true;
  }
  FieldBuilder builder_;
};

TEST(FieldBuilder, BuildsWhatTheParserBuilds) {
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += i % 2 ? "{\"k\":" : "[1,";
  deep += "null";
  for (int i = 199; i >= 0; --i) deep += i % 2 ? "}" : "]";
  for (const std::string& text : {
           std::string(R"("just a text")"),
           std::string(R"({})"),
           std::string(R"([[], {}, [[]], {"a": {}}])"),
           std::string(R"({"details": ["one", "two"], "extra": {"n": 1, "list": [1, 2.5, -3, true, null]}})"),
           // Siblings after a nested object take their own keys, not the nested one's last.
           std::string(R"({"a": {"inner": 1}, "b": 2, "c": [{"x": 1}, {"y": [2]}], "d": "end"})"),
           // Many members: the open containers' storage moves as they grow.
           std::string(R"([)") + [] {
             std::string many;
             for (int i = 0; i < 500; ++i) many += (i ? "," : "") + std::string(R"({"i": [)") + std::to_string(i) + "]}";
             return many;
           }() + "]",
           std::string(R"({"same": 1, "same": 2})"),
           deep,
       }) {
    WholeDocument events;
    ASSERT_TRUE(json::sax_parse(text, &events)) << text;
    EXPECT_EQ(events.value, json::parse(text)) << text;
  }
}

}  // namespace
