// Scalar analysis: which styles can hold a text. The rules are the YAML library's: plain
// text may not start with an indicator, hold ": " or " #", start or end with white space or
// span lines; single quotes cannot hold a space next to a line break; block literals cannot
// end in a space; anything outside printable ASCII needs double quotes.
#include "scalar_analysis.hpp"

#include <array>

#include "morvi/utils/utf8.hpp"

namespace morvi::reporter::trialkit::yaml_detail {
namespace {

constexpr bool is_space_or_break(char c) {
  return c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

constexpr bool is_leading_indicator(char c) {
  return std::string_view("#,[]{}&*!|>'\"%@`").find(c) != std::string_view::npos;
}

// A text with characters outside ASCII: double quotes are the only style left.
ScalarAnalysis analyze_wide(std::string_view text) {
  ScalarAnalysis a;
  for (std::size_t i = 0; i < text.size();) {
    const utils::utf8::CodePoint cp = utils::utf8::decode(text, i);
    if (cp.value == '\n' || cp.value == 0x85 || cp.value == 0x2028 || cp.value == 0x2029)
      a.multiline = true;
    ++a.length;
    i += cp.size;
  }
  return a;
}

}  // namespace

ScalarAnalysis analyze_scalar(std::string_view text) {
  ScalarAnalysis a;
  const std::size_t n = text.size();
  if (n == 0) {
    a.empty = true;
    a.allow_block_plain = a.allow_single_quoted = true;
    return a;
  }
  if (is_quiet_word(text)) {
    a.length = n;
    a.allow_block_plain = a.allow_single_quoted = a.allow_block = true;
    return a;
  }
  bool block_indicators = text.starts_with("---") || text.starts_with("...");
  bool special = false, line_breaks = false;
  bool leading_space = false, leading_break = false, trailing_space = false,
       trailing_break = false, break_space = false, space_break = false;
  bool previous_space = false, previous_break = false;
  for (std::size_t i = 0; i < n; ++i) {
    const char ch = text[i];
    // An ordinary character after the first only ends a run of spaces or breaks.
    if (i > 0 && kQuietAfterFirst[static_cast<unsigned char>(ch)]) {
      previous_space = previous_break = false;
      continue;
    }
    if (static_cast<unsigned char>(ch) >= 0x80) return analyze_wide(text);
    const bool followed_by_whitespace = i + 1 >= n || is_space_or_break(text[i + 1]);
    if (i == 0) {
      if (is_leading_indicator(ch)) block_indicators = true;
      if ((ch == '?' || ch == ':' || ch == '-') && followed_by_whitespace) block_indicators = true;
    } else {
      if (ch == ':' && followed_by_whitespace) block_indicators = true;
      if (ch == '#' && is_space_or_break(text[i - 1])) block_indicators = true;
    }
    if (ch == '\n') {
      line_breaks = true;
    } else if (ch < 0x20 || ch == 0x7F) {
      special = true;
    }
    if (ch == ' ') {
      if (i == 0) leading_space = true;
      if (i == n - 1) trailing_space = true;
      if (previous_break) break_space = true;
      previous_space = true;
      previous_break = false;
    } else if (ch == '\n') {
      if (i == 0) leading_break = true;
      if (i == n - 1) trailing_break = true;
      if (previous_space) space_break = true;
      previous_space = false;
      previous_break = true;
    } else {
      previous_space = previous_break = false;
    }
  }
  a.length = n;
  a.multiline = line_breaks;
  a.allow_block_plain = !(leading_space || leading_break || trailing_space || trailing_break ||
                          break_space || space_break || special || line_breaks || block_indicators);
  a.allow_single_quoted = !(break_space || space_break || special);
  a.allow_block = !(trailing_space || space_break || special);
  return a;
}

}  // namespace morvi::reporter::trialkit::yaml_detail
