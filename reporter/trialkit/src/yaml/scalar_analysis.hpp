#pragma once
// What the emitter needs to know about a scalar's text before choosing its style, and how its
// text would read back as a plain scalar under YAML 1.1 implicit resolution.
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

// The tag a plain scalar with this text reads back as: bool, float, int, merge, null,
// timestamp, value or yaml, else str.
std::string_view resolve_plain(std::string_view text);

}  // namespace morvi::reporter::trialkit::yaml_detail
