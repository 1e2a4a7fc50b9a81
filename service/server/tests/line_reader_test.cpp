#include "morvi/service/server/line_reader.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace morvi::service::server {
namespace {

struct Seen {
  std::vector<std::string> lines;
  std::size_t most_held = 0;
};

// Feeds `text` in pieces of `piece` bytes, noting each line ("<oversize>" for one over the
// limit) and the most the reader held between pieces.
Seen split(const std::string& text, std::size_t piece, std::size_t limit) {
  LineReader reader(limit);
  Seen seen;
  for (std::size_t at = 0; at < text.size(); at += piece) {
    const std::string chunk = text.substr(at, piece);
    reader.feed(chunk.data(), chunk.size(), [&](std::string_view line, bool oversize) {
      seen.lines.push_back(oversize ? "<oversize>" : std::string(line));
      return true;
    });
    seen.most_held = std::max(seen.most_held, reader.pending());
  }
  return seen;
}

TEST(LineReader, LinesComeWholeWhateverTheChunksAndLongOnesAreNeverHeld) {
  const std::string text = "a\n\nbcdef\n0123456789\n" + std::string(25, 'x') + "\nlast\nunfinished";
  for (std::size_t piece : {1u, 2u, 3u, 7u, 64u}) {
    const Seen seen = split(text, piece, 10);
    EXPECT_EQ(seen.lines, (std::vector<std::string>{"a", "", "bcdef", "0123456789", "<oversize>",
                                                    "last"}))
        << "pieces of " << piece;
    EXPECT_LE(seen.most_held, 10u);
  }
}

TEST(LineReader, StopsWhenTheCallerSaysSoAndKeepsNothingOfTheRest) {
  LineReader reader(100);
  std::vector<std::string> lines;
  const std::string text = "one\ntwo\nthree\n";
  reader.feed(text.data(), text.size(), [&](std::string_view line, bool) {
    lines.emplace_back(line);
    return line != "two";
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(reader.pending(), 0u);
}

}  // namespace
}  // namespace morvi::service::server
