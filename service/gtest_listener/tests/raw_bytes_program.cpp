// A test program whose texts hold bytes that are not UTF-8, as a test comparing binary data
// makes them: in failure messages, a SCOPED_TRACE scope, suite and test names, a value
// parameter, a property, a skip message and a file name; beside them valid multibyte text and
// a control character, and tests that pass between the bad ones.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Bytes, FailsWithBinaryMessage) { EXPECT_TRUE(false) << "got \xff\xfe after"; }

TEST(Bytes, PassesAfterIt) { SUCCEED(); }

TEST(Bytes, FailsInABinaryScope) {
  SCOPED_TRACE("scope \xe2\x82 end");
  ADD_FAILURE() << "inside";
}

TEST(Bytes, KeepsValidTextAndControls) { ADD_FAILURE() << "caf\xc3\xa9 \xf0\x9f\x98\x80 bell\x07"; }

TEST(Bytes, SkipsInBinary) { GTEST_SKIP() << "no \xc0\xaf here"; }

TEST(Bytes, RecordsABinaryProperty) { RecordProperty("key\xff", "value\xfe"); }

TEST(Bytes, FailsAtABinaryFile) { ADD_FAILURE_AT("odd\xff.cc", 7) << "placed"; }

class Plain : public ::testing::Test {
 public:
  void TestBody() override {}
};

// GoogleTest checks the names of its macros' tests, not those registered at run time.
[[maybe_unused]] const bool registered = [] {
  ::testing::RegisterTest("Named\xff", "test\xfe\xfd", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> Plain* { return new Plain; });
  return true;
}();

struct Blob {
  std::string bytes;
};

// Printed as the raw bytes, as a type's own printer may.
void PrintTo(const Blob& blob, std::ostream* os) { *os << blob.bytes; }

class Blobs : public ::testing::TestWithParam<Blob> {};

TEST_P(Blobs, AreNotEmpty) { EXPECT_FALSE(GetParam().bytes.empty()); }

INSTANTIATE_TEST_SUITE_P(Raw, Blobs, ::testing::Values(Blob{"\xed\xa0\x80"}));

}  // namespace
