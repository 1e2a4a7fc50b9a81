// The document buffer hands its text over whole, at every size, and is ready for the next one.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "morvi/utils/document_buffer.hpp"

namespace morvi::utils {
namespace {

// `n` bytes that differ from their neighbours, so a piece copied twice or skipped shows.
std::string pattern(std::size_t n) {
  std::string text(n, '\0');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  return text;
}

// Sizes on the heap, on either side of a huge page in a mapping of its own, and over several.
TEST(DocumentBufferTake, HandsOverTheExactTextAndEmpties) {
  const std::size_t mib = std::size_t{1} << 20;
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, 100 * std::size_t{1024}, 4 * mib - 1, 4 * mib,
                              4 * mib + 1, 7 * mib + 12345}) {
    const std::string expected = pattern(n);
    DocumentBuffer buffer;
    for (std::size_t at = 0; at < n; at += 1000) buffer.append(std::string_view(expected).substr(at, 1000));
    const std::string taken = buffer.take();
    EXPECT_EQ(taken.size(), n);
    EXPECT_TRUE(taken == expected) << n << " bytes";
    EXPECT_EQ(buffer.size(), 0U);
  }
}

// The pages a large buffer gave back come back as it is written again.
TEST(DocumentBufferTake, WritesAgainAfterHandingOver) {
  const std::string first = pattern(9 * (std::size_t{1} << 20) + 3);
  const std::string second = pattern(5 * (std::size_t{1} << 20)) + "end";
  DocumentBuffer buffer;
  buffer.append(first);
  EXPECT_TRUE(buffer.take() == first);
  buffer.append(second);
  EXPECT_TRUE(buffer.view() == second);
  EXPECT_TRUE(buffer.take() == second);
}

}  // namespace
}  // namespace morvi::utils
