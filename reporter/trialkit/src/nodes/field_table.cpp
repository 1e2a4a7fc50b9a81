#include "field_table.hpp"

#include <array>
#include <cstddef>

namespace morvi::reporter::trialkit {
namespace {

// Open addressing over a table four times the number of names: update looks up every key it
// is given, so this stays a hash and, nearly always, one comparison.
class NameIndex {
 public:
  NameIndex() {
    for (int i = 0; i < kFieldCount; ++i) {
      std::size_t at = hash(kFields[static_cast<std::size_t>(i)].name) & kMask;
      while (table_[at] != 0) at = (at + 1) & kMask;
      table_[at] = static_cast<std::uint8_t>(i + 1);
    }
  }

  FieldId find(std::string_view name) const noexcept {
    for (std::size_t at = hash(name) & kMask;; at = (at + 1) & kMask) {
      const std::uint8_t entry = table_[at];
      if (entry == 0) return FieldId::unknown;
      if (kFields[entry - 1u].name == name) return static_cast<FieldId>(entry - 1);
    }
  }

 private:
  static constexpr std::size_t kSize = 256;
  static constexpr std::size_t kMask = kSize - 1;
  static_assert(kSize >= 4 * kFieldCount);

  // The length and three characters: the names differ there, so few lookups probe twice,
  // and the cost does not grow with the key.
  static std::size_t hash(std::string_view s) noexcept {
    if (s.empty()) return 0;
    const auto at = [&s](std::size_t i) {
      return static_cast<std::size_t>(static_cast<unsigned char>(s[i]));
    };
    return (s.size() << 5) + at(0) * 3 + at(s.size() - 1) * 7 + at(s.size() / 2);
  }

  std::array<std::uint8_t, kSize> table_{};
};

}  // namespace

FieldId field_id(std::string_view name) noexcept {
  static const NameIndex index;
  return index.find(name);
}

std::string_view field_name(FieldId field) noexcept {
  return field == FieldId::unknown ? std::string_view("?")
                                   : entry_of(field).name;
}

}  // namespace morvi::reporter::trialkit
