#include <string>

#include "morvi/errors.hpp"
#include "morvi/results.hpp"

namespace morvi::results {

std::size_t ResultCounter::standard_slot(std::string_view key) noexcept {
  for (std::size_t i = 0; i < kStandard; ++i)
    if (kTallyNames[i] == key) return i;
  return kStandard;
}

std::int64_t ResultCounter::count(std::string_view key) const {
  if (const std::size_t slot = standard_slot(key); slot < kStandard) return standard_[slot];
  for (const auto& [k, n] : others_)
    if (k == key) return n;
  return 0;
}

Value ResultCounter::operator[](std::string_view key) const {
  if (key == "total") return Value(total());
  if (key == "success_rate") return Value(success_rate());
  return Value(count(key));
}

void ResultCounter::set_count(std::string_view key, std::int64_t n) {
  if (key == "total" || key == "success_rate") return;
  if (const std::size_t slot = standard_slot(key); slot < kStandard) {
    standard_[slot] = n;
    return;
  }
  for (auto& [k, count] : others_)
    if (k == key) {
      count = n;
      return;
    }
  others_.emplace_back(std::string(key), n);
}

void ResultCounter::set(std::string_view key, const Value& value) {
  if (key == "total" || key == "success_rate") return;
  if (!value.is_int() && !value.is_bool())
    throw TypeError("tally count for '" + std::string(key) + "' must be a whole number, got " +
                    value.kind_name());
  set_count(key, value.as_int());
}

void ResultCounter::add(std::string_view key, std::int64_t n) { set_count(key, count(key) + n); }

std::vector<std::pair<std::string, std::int64_t>> ResultCounter::items() const {
  std::vector<std::pair<std::string, std::int64_t>> out;
  out.reserve(kStandard + others_.size());
  for (std::size_t i = 0; i < kStandard; ++i) out.emplace_back(kTallyNames[i], standard_[i]);
  out.insert(out.end(), others_.begin(), others_.end());
  return out;
}

Map ResultCounter::data() const {
  Map m;
  m.reserve(kStandard + others_.size());
  for (const auto& [key, n] : items()) m.set(key, Value(n));
  return m;
}

std::int64_t ResultCounter::total() const {
  std::int64_t sum = 0;
  for (std::int64_t n : standard_) sum += n;
  for (const auto& entry : others_) sum += entry.second;
  return sum;
}

double ResultCounter::success_rate() const {
  const std::int64_t t = total();
  if (t == 0) return 0.0;
  const double rate = 100.0 * static_cast<double>(standard_[0] + standard_[1]) /
                      static_cast<double>(t);
  return round_decimals(rate, 2);
}

bool operator==(const ResultCounter& a, const ResultCounter& b) {
  return a.standard_ == b.standard_ && a.others_ == b.others_;
}

}  // namespace morvi::results
