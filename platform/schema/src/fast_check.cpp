#include "morvi/reporter/schema/fast_check.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include <simdjson.h>

#include "compiled_schema.hpp"
#include "morvi/reporter/schema.hpp"
#include "morvi/reporter/schema/results_json.hpp"
#include "morvi/utils/deep_stack.hpp"
#include "morvi/utils/utf8.hpp"

namespace morvi::reporter::schema {

namespace {

using quick::CompiledSchema;
using quick::Node;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Walks JSON text along the compiled schema in one pass, holding nothing but the text: each
// value is read and checked against the subschema of its place as it is met. Any doubt (text
// that is not strict JSON, a value outside the schema, a keyword the compiled form does not
// know) ends the walk with false, leaving the verdict and its wording to the full validator.
// The text has been checked to be UTF-8 beforehand; the end of the text reads as a NUL byte,
// which is not valid at any place a character is looked at.
class Scanner {
 public:
  Scanner(const CompiledSchema& schema, std::string_view text)
      : schema_(schema), p_(text.data()), end_(text.data() + text.size()) {}

  bool document() {
    if (!value(0)) return false;
    skip_space();
    return p_ == end_;
  }

 private:
  char peek() const noexcept { return p_ < end_ ? *p_ : '\0'; }

  // Most places hold no white space or one blank (the writer's ", " and ": "), settled before
  // the loop: anything past a blank is not white space.
  void skip_space() noexcept {
    if (end_ - p_ >= 2) {
      if (static_cast<unsigned char>(p_[0]) > ' ') return;
      if (p_[0] == ' ' && static_cast<unsigned char>(p_[1]) > ' ') {
        ++p_;
        return;
      }
    }
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  static bool allows(const Node& node, unsigned type_bits) noexcept {
    return node.types == 0 || (node.types & type_bits) != 0;
  }

  bool value(std::size_t index) {
    skip_space();
    const Node* node = schema_.resolved(index);
    if (node == nullptr) return false;
    switch (peek()) {
      case '{':
        return allows(*node, quick::kObject) && !node->allowed_strings && object(*node);
      case '[':
        return allows(*node, quick::kArray) && !node->allowed_strings && array(*node);
      case '"': {
        std::string_view text;
        return allows(*node, quick::kString) && string(text) && string_holds(*node, text);
      }
      case 't':
        return literal("true") && allows(*node, quick::kBoolean) && !node->allowed_strings;
      case 'f':
        return literal("false") && allows(*node, quick::kBoolean) && !node->allowed_strings;
      case 'n':
        return literal("null") && allows(*node, quick::kNull) && !node->allowed_strings;
      default: {
        unsigned bits = 0;
        return number(bits) && allows(*node, bits) && !node->allowed_strings;
      }
    }
  }

  bool literal(std::string_view word) noexcept {
    if (static_cast<std::size_t>(end_ - p_) < word.size() ||
        std::memcmp(p_, word.data(), word.size()) != 0) {
      return false;
    }
    p_ += word.size();
    return true;
  }

  // A JSON number; `bits` gets kNumber, with kInteger for a whole number however it is written
  // (2.0, 1e2), as JSON Schema counts it and the full validator checks it. A number past a
  // double is refused, as the full parser refuses it.
  bool number(unsigned& bits) {
    const char* start = p_;
    if (peek() == '-') ++p_;
    const char* digits = p_;
    if (peek() == '0') {
      ++p_;
    } else if (is_digit(peek())) {
      while (is_digit(peek())) ++p_;
    } else {
      return false;
    }
    bool integral = true;
    bool zero_fraction = true;
    std::ptrdiff_t point = 0;  // 1 when there is a fraction, for the count of digits
    if (peek() == '.') {
      ++p_;
      if (!is_digit(peek())) return false;
      while (is_digit(peek())) zero_fraction &= *p_++ == '0';
      integral = false;
      point = 1;
    }
    bool exponent = false;
    if (peek() == 'e' || peek() == 'E') {
      ++p_;
      if (peek() == '+' || peek() == '-') ++p_;
      if (!is_digit(peek())) return false;
      while (is_digit(peek())) ++p_;
      integral = false;
      exponent = true;
    }
    bits = quick::kNumber;
    // Up to 18 digits always fit in 64 bits.
    if (integral && p_ - start <= 18) {
      bits |= quick::kInteger;
      return true;
    }
    // With at most 15 digits and no exponent the number is finite, and a fraction that is not
    // all zeros keeps its nearest double off every whole number (the double's spacing there is
    // finer than the fraction's last digit): parsing and truncating it would tell the same.
    if (!exponent && (p_ - digits) - point <= 15) {
      if (zero_fraction) bits |= quick::kInteger;
      return true;
    }
    double x = 0;
    const auto [stop, error] = std::from_chars(start, p_, x);
    if (error != std::errc() || stop != p_ || !std::isfinite(x)) return false;
    if (std::trunc(x) == x) bits |= quick::kInteger;
    return true;
  }

  // Reads a string whose opening quote is at the cursor. `text` is its content: in place when
  // it holds no escape, otherwise decoded into a buffer the next string reuses.
  bool string(std::string_view& text) {
    const char* start = ++p_;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i below_space = _mm_set1_epi8(0x1F);
    while (end_ - p_ >= 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
      const __m128i special =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)),
                       _mm_cmpeq_epi8(_mm_min_epu8(chunk, below_space), chunk));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
      if (mask != 0) {
        p_ += __builtin_ctz(mask);
        break;
      }
      p_ += 16;
    }
#endif
    while (p_ < end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) ++p_;
    if (peek() == '"') {
      text = std::string_view(start, static_cast<std::size_t>(p_ - start));
      ++p_;
      return true;
    }
    if (peek() != '\\') return false;
    scratch_.assign(start, p_);
    if (!escaped_rest()) return false;
    text = scratch_;
    return true;
  }

  // Decodes the rest of a string from its first escape on into `scratch_`.
  bool escaped_rest() {
    for (;;) {
      const char c = peek();
      if (c == '"') {
        ++p_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      ++p_;
      if (c != '\\') {
        scratch_ += c;
        continue;
      }
      const char e = peek();
      ++p_;
      switch (e) {
        case '"': scratch_ += '"'; break;
        case '\\': scratch_ += '\\'; break;
        case '/': scratch_ += '/'; break;
        case 'b': scratch_ += '\b'; break;
        case 'f': scratch_ += '\f'; break;
        case 'n': scratch_ += '\n'; break;
        case 'r': scratch_ += '\r'; break;
        case 't': scratch_ += '\t'; break;
        case 'u': {
          const auto code = utils::utf8::decode_json_escape(
              std::string_view(p_, static_cast<std::size_t>(end_ - p_)), 0);
          if (!code.valid) return false;
          p_ += code.size;
          utils::utf8::append_code_point(scratch_, code.value);
          break;
        }
        default:
          return false;
      }
    }
  }

  static bool string_holds(const Node& node, std::string_view text) {
    if (node.allowed_strings &&
        std::find(node.allowed_strings->begin(), node.allowed_strings->end(), text) ==
            node.allowed_strings->end()) {
      return false;
    }
    if (node.min_length > 0) {
      // Length in code points: every byte but UTF-8 continuation bytes starts one.
      const auto code_points = static_cast<std::size_t>(std::count_if(
          text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
      if (code_points < node.min_length) return false;
    }
    if (node.time_pattern && !quick::matches_time_pattern(text)) return false;
    if (node.pattern && !std::regex_search(text.begin(), text.end(), *node.pattern)) return false;
    return true;
  }

  // Nesting is counted as the full parser counts it (the top value is level 1) and stops at
  // the same limit; recursion is bounded by it.
  bool enter() noexcept { return ++depth_ <= MAX_DEPTH; }

  bool array(const Node& node) {
    ++p_;
    if (!enter()) return false;
    const std::size_t items = node.items ? *node.items : schema_.any();
    std::size_t count = 0;
    skip_space();
    if (peek() == ']') {
      ++p_;
    } else {
      for (;;) {
        if (!value(items)) return false;
        ++count;
        skip_space();
        const char c = peek();
        ++p_;
        if (c == ']') break;
        if (c != ',') return false;
      }
    }
    --depth_;
    return count >= node.min_items;
  }

  bool object(const Node& node) {
    ++p_;
    if (!enter()) return false;
    std::uint64_t seen = 0;
    std::size_t count = 0;
    // A name given twice counts once towards minProperties.
    std::vector<std::string> names;
    skip_space();
    if (peek() == '}') {
      ++p_;
    } else {
      for (;;) {
        std::string_view name;
        if (peek() != '"' || !string(name)) return false;
        if (node.min_properties > 1) names.emplace_back(name);
        const quick::Member* member = node.member_table.find(name);
        skip_space();
        if (peek() != ':') return false;
        ++p_;
        std::size_t schema = schema_.any();
        if (member != nullptr && member->schema) {
          schema = *member->schema;
        } else if (!node.additional_allowed) {
          return false;
        } else if (node.additional) {
          schema = *node.additional;
        }
        if (!value(schema)) return false;
        if (member != nullptr) seen |= member->required_bit;
        ++count;
        skip_space();
        const char c = peek();
        ++p_;
        if (c == '}') break;
        if (c != ',') return false;
        skip_space();
      }
    }
    --depth_;
    if (seen != node.required_mask || count < node.min_properties) return false;
    if (node.min_properties > 1) {
      const std::unordered_set<std::string_view> distinct(names.begin(), names.end());
      if (distinct.size() < node.min_properties) return false;
    }
    return true;
  }

  const CompiledSchema& schema_;
  const char* p_;
  const char* end_;
  std::size_t depth_ = 0;
  std::string scratch_;
};

}  // namespace

bool quickly_valid(std::string_view text) {
  if (!simdjson::validate_utf8(text.data(), text.size())) return false;
  // The scanner recurses once per level.
  bool valid = false;
  utils::on_deep_stack([&] { valid = Scanner(quick::compiled_results_schema(), text).document(); });
  return valid;
}

std::optional<std::string> validate_results_text(std::string_view text, std::string_view origin) {
  if (quickly_valid(text)) return std::nullopt;
  return validate(parse_results_json(text, origin));
}

Findings check_results_text(std::string_view text, std::string_view origin) {
  if (quickly_valid(text)) return {};
  return find_problems(parse_results_json(text, origin));
}

}  // namespace morvi::reporter::schema
