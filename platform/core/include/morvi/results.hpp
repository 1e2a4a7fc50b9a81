#pragma once
// Result values and result tallies of the framework's results component.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::results {

// The seven outcomes in precedence order: combining two results keeps the higher one.
enum class ResultCode : std::uint8_t { skipped, passed, passx, blocked, failed, aborted, errored };

// Lower-case name of a code ("passed").
std::string_view code_name(ResultCode code) noexcept;

class TestResult {
 public:
  explicit TestResult(ResultCode code = ResultCode::passed, std::string reason = {}, Map data = {})
      : code_(code), reason_(std::move(reason)), data_(std::move(data)) {}

  // The value named by `name` in any letter case; ArgumentError naming the text otherwise.
  static TestResult from_str(std::string_view name);

  ResultCode code() const noexcept { return code_; }
  // The name, "passed", "failed", ...; also the text form.
  std::string_view value() const noexcept { return code_name(code_); }
  const std::string& reason() const noexcept { return reason_; }
  const Map& data() const noexcept { return data_; }
  void set_reason(std::string reason) { reason_ = std::move(reason); }
  void set_data(Map data) { data_ = std::move(data); }

  TestResult clone() const { return *this; }

  // A copy of the operand with the higher precedence, with its reason and data; on equal
  // precedence, of the left operand (the value combined into).
  friend TestResult operator+(const TestResult& a, const TestResult& b);
  TestResult& operator+=(const TestResult& other);

  friend bool operator==(const TestResult& a, const TestResult& b) = default;

 private:
  ResultCode code_;
  std::string reason_;
  Map data_;
};

// Declared again outside the class: a friend declaration alone does not export the function.
TestResult operator+(const TestResult& a, const TestResult& b);

inline const TestResult Skipped{ResultCode::skipped};
inline const TestResult Passed{ResultCode::passed};
inline const TestResult Passx{ResultCode::passx};
inline const TestResult Blocked{ResultCode::blocked};
inline const TestResult Failed{ResultCode::failed};
inline const TestResult Aborted{ResultCode::aborted};
inline const TestResult Errored{ResultCode::errored};

// A tally of results by lower-case name. A fresh tally holds passed, passx, failed, errored,
// aborted, blocked and skipped at 0, in that order; other keys follow in insertion order.
// "total" and "success_rate" are derived: reading them computes them, writing them is ignored.
class ResultCounter {
 public:
  ResultCounter() = default;

  // The count under `key`, 0 when the tally does not hold it; the derived values for "total"
  // and "success_rate" (an int and a float).
  Value operator[](std::string_view key) const;
  std::int64_t count(std::string_view key) const;
  // Sets a count (adding the key when new); the derived keys are ignored. TypeError for a
  // value that is not a whole number.
  void set(std::string_view key, const Value& value);
  void set_count(std::string_view key, std::int64_t n);
  void add(std::string_view key, std::int64_t n);
  // The seven standard counts ("passed" to "skipped") taken from `other`, or added to these;
  // the other keys stay as they are. What a loop over kTallyNames would do, without a lookup
  // per name.
  void set_standard_from(const ResultCounter& other) noexcept { standard_ = other.standard_; }
  void add_standard_from(const ResultCounter& other) noexcept {
    for (std::size_t i = 0; i < kStandard; ++i) standard_[i] += other.standard_[i];
  }

  // The (key, count) pairs in the tally's own order, without the derived values.
  std::vector<std::pair<std::string, std::int64_t>> items() const;
  // Calls f(key, count) for the same pairs in the same order, copying no key; the keys are
  // valid while the tally is unchanged.
  template <class F>
  void for_each(F&& f) const;
  // The counts as a map, in the same order.
  Map data() const;
  std::int64_t total() const;
  // 100 * (passed + passx) / total, rounded to 2 decimals; 0.0 when total is 0.
  double success_rate() const;

  double weight() const noexcept { return weight_; }
  void set_weight(double w) noexcept { weight_ = w; }

  friend bool operator==(const ResultCounter& a, const ResultCounter& b);

 private:
  static constexpr std::size_t kStandard = 7;
  // Standard slot of `key`, or kStandard when it is not one of the seven names.
  static std::size_t standard_slot(std::string_view key) noexcept;

  std::array<std::int64_t, kStandard> standard_{};
  std::vector<std::pair<std::string, std::int64_t>> others_;
  double weight_ = 1.0;
};

// Declared again outside the class: a friend declaration alone does not export the function.
bool operator==(const ResultCounter& a, const ResultCounter& b);

// The seven names in a fresh tally's order.
inline constexpr std::array<std::string_view, 7> kTallyNames = {
    "passed", "passx", "failed", "errored", "aborted", "blocked", "skipped"};

template <class F>
void ResultCounter::for_each(F&& f) const {
  for (std::size_t i = 0; i < kStandard; ++i) f(kTallyNames[i], standard_[i]);
  for (const auto& [key, count] : others_) f(std::string_view(key), count);
}

}  // namespace morvi::results
#pragma GCC visibility pop
