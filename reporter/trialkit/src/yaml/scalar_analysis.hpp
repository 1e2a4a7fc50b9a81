#pragma once
// What the emitter needs to know about a scalar's text before choosing its style, and how its
// text would read back as a plain scalar under YAML 1.1 implicit resolution.
#include <array>
#include <cstddef>
#include <string_view>

namespace morvi::reporter::trialkit::yaml_detail {

inline constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
inline constexpr std::string_view kMapTag = "tag:yaml.org,2002:map";
inline constexpr std::string_view kSeqTag = "tag:yaml.org,2002:seq";

// Tags are nearly always the same few constants: compare where they point before what they say.
inline bool same_tag(std::string_view a, std::string_view b) noexcept {
  return (a.data() == b.data() && a.size() == b.size()) || a == b;
}

struct ScalarAnalysis {
  std::size_t length = 0;  // in code points
  bool empty = false;
  bool multiline = false;  // holds a line break
  bool allow_block_plain = false;
  bool allow_single_quoted = false;
  bool allow_block = false;
};

// Any character outside printable ASCII (the line feed aside) can only be written escaped in
// double quotes, so for such texts only the length and line breaks are worked out.
ScalarAnalysis analyze_scalar(std::string_view text);

// Characters that never make plain text ambiguous after the first: printable ASCII other than
// the space, ':' and '#'.
inline constexpr std::array<bool, 256> kQuietAfterFirst = [] {
  std::array<bool, 256> t{};
  for (int c = 0x21; c < 0x7F; ++c) t[c] = c != ':' && c != '#';
  return t;
}();

// The same, less the indicators that may not start plain text.
inline constexpr std::array<bool, 256> kQuietFirst = [] {
  std::array<bool, 256> t = kQuietAfterFirst;
  for (const char c : std::string_view("#,[]{}&*!|>'\"%@`?-")) t[static_cast<unsigned char>(c)] = false;
  return t;
}();

// True for a non-empty text of printable ASCII without spaces, ':' or '#' that starts with no
// indicator: every style holds it and it spans one line. Most texts of a report are such
// words (names, numbers, paths).
inline bool is_quiet_word(std::string_view text) {
  if (!kQuietFirst[static_cast<unsigned char>(text[0])] || text.starts_with("...")) return false;
  for (std::size_t i = 1; i < text.size(); ++i)
    if (!kQuietAfterFirst[static_cast<unsigned char>(text[i])]) return false;
  return true;
}

// The tag a plain scalar with this text reads back as: bool, float, int, merge, null,
// timestamp, value or yaml, else str.
std::string_view resolve_plain(std::string_view text);

// A text written plain just as it is, in any context: a quiet word that reads back as a text.
inline bool is_plain_text(std::string_view text) {
  return !text.empty() && is_quiet_word(text) && same_tag(resolve_plain(text), kStrTag);
}

}  // namespace morvi::reporter::trialkit::yaml_detail
