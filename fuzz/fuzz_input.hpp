#pragma once
// Turns fuzz input bytes into values, so every target explores the same shapes: texts of any
// bytes, numbers at the edges, and containers nested a few levels deep.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "morvi/results.hpp"
#include "morvi/value.hpp"

namespace morvi::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

  // A text of up to 64 bytes, any bytes at all.
  std::string text() {
    const std::size_t n = std::min<std::size_t>(byte() % 65, size_ - std::min(pos_, size_));
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

  std::int64_t integer() {
    std::int64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | byte();
    return v;
  }

  double real(bool finite_only) {
    static const double kEdges[] = {0.0, -0.0, 0.005, 0.125, 2.675, 1e16, 1e-5, 0.1, 1.5,
                                    std::numeric_limits<double>::max(),
                                    std::numeric_limits<double>::denorm_min(),
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN()};
    const std::uint8_t pick = byte();
    double d;
    if (pick < 128) {
      d = kEdges[pick % std::size(kEdges)];
    } else {
      const std::int64_t bits = integer();
      std::memcpy(&d, &bits, sizeof d);
    }
    if (finite_only && !std::isfinite(d)) d = 0.5;
    return d;
  }

  // A value of any kind the writers meet in a report, containers at most `depth` deep.
  Value value(int depth, bool finite_only) {
    const int kinds = depth > 0 ? 11 : 6;
    switch (byte() % kinds) {
      case 0: return Value();
      case 1: return Value(byte() % 2 == 1);
      case 2: return Value(integer());
      case 3: return Value(real(finite_only));
      case 4:
      case 5: return Value(text());
      case 6:
      case 7: {
        List items;
        for (int n = byte() % 5; n > 0 && !empty(); --n) items.push_back(value(depth - 1, finite_only));
        return byte() % 4 == 0 ? Value::tuple(std::move(items)) : Value(std::move(items));
      }
      case 8:
      case 9: {
        Map m;
        for (int n = byte() % 5; n > 0 && !empty(); --n) {
          // Key first, then value: the same input makes the same map whatever the compiler.
          std::string key = text();
          m.set(key, value(depth - 1, finite_only));
        }
        return byte() % 4 == 0 ? Value::attr_map(std::move(m)) : Value(std::move(m));
      }
      default: {
        static const results::TestResult* kResults[] = {
            &results::Passed, &results::Failed, &results::Errored, &results::Skipped,
            &results::Aborted, &results::Blocked, &results::Passx};
        results::TestResult r = *kResults[byte() % 7];
        if (byte() % 2) r.set_reason(text());
        return Value(std::move(r));
      }
    }
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// True when `s` is well-formed UTF-8 (no surrogates, no overlong forms).
inline bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    std::uint32_t cp = len == 1 ? b : b & (0x7f >> len);
    for (std::size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3f);
    }
    static const std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += len;
  }
  return true;
}

// True when every text in `v`, map keys included, is well-formed UTF-8.
inline bool all_texts_valid(const Value& v) {
  if (v.is_text()) return valid_utf8(v.as_text());
  if (v.is_sequence()) {
    for (const Value& item : v.as_list())
      if (!all_texts_valid(item)) return false;
  } else if (v.is_map()) {
    for (const auto& [key, item] : v.as_map())
      if (!valid_utf8(key) || !all_texts_valid(item)) return false;
  } else if (v.is_result()) {
    return valid_utf8(v.as_result().reason());
  }
  return true;
}

}  // namespace morvi::fuzz
