#include <string>
#include <unordered_set>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio/escape.hpp"

namespace morvi::reporter::markfolio {
namespace {

constexpr char kHex[] = "0123456789abcdef";

bool continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

unsigned char byte_at(std::string_view text, std::size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

bool is_encoded_surrogate(std::string_view s) {
  return s.size() == 3 && static_cast<unsigned char>(s[0]) == 0xED &&
         static_cast<unsigned char>(s[1]) >= 0xA0 && continuation(static_cast<unsigned char>(s[1])) &&
         continuation(static_cast<unsigned char>(s[2]));
}

// U+FFFE and U+FFFF: well-formed UTF-8, but characters XML 1.0 does not allow.
bool is_encoded_noncharacter(std::string_view s) {
  return s.size() == 3 && static_cast<unsigned char>(s[0]) == 0xEF &&
         static_cast<unsigned char>(s[1]) == 0xBF &&
         (static_cast<unsigned char>(s[2]) & 0xFE) == 0xBE;
}

}  // namespace

EscapeSequence::Match EscapeSequence::search(std::string_view text,
                                             std::size_t from) const noexcept {
  std::size_t i = from;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    switch (classes_[b]) {
      case ByteClass::keep:
        ++i;
        continue;
      case ByteClass::control:
      case ByteClass::stray:
        return {i, text.substr(i, 1)};
      case ByteClass::lead2:
        if (!continuation(byte_at(text, i + 1))) return {i, text.substr(i, 1)};
        i += 2;
        continue;
      case ByteClass::lead3: {
        const unsigned char b1 = byte_at(text, i + 1);
        const bool second_ok = continuation(b1) && !(b == 0xE0 && b1 < 0xA0);  // overlong
        if (!second_ok || !continuation(byte_at(text, i + 2))) return {i, text.substr(i, 1)};
        if (b == 0xED && b1 >= 0xA0) return {i, text.substr(i, 3)};  // U+D800..U+DFFF
        if (is_encoded_noncharacter(text.substr(i, 3))) return {i, text.substr(i, 3)};
        i += 3;
        continue;
      }
      case ByteClass::lead4: {
        const unsigned char b1 = byte_at(text, i + 1);
        const bool second_ok = continuation(b1) && !(b == 0xF0 && b1 < 0x90) &&  // overlong
                               !(b == 0xF4 && b1 >= 0x90);                       // > U+10FFFF
        if (!second_ok || !continuation(byte_at(text, i + 2)) ||
            !continuation(byte_at(text, i + 3))) {
          return {i, text.substr(i, 1)};
        }
        i += 4;
        continue;
      }
    }
  }
  return {std::string_view::npos, {}};
}

std::string _escape_repl(std::string_view match) {
  if (match.size() == 1 && ESCAPE_SEQUENCE.search(match).pos == 0) {
    const auto b = static_cast<unsigned char>(match[0]);
    return {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
  }
  if (is_encoded_surrogate(match) || is_encoded_noncharacter(match)) {
    const unsigned code = ((static_cast<unsigned char>(match[0]) & 0x0Fu) << 12) |
                          ((static_cast<unsigned char>(match[1]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(match[2]) & 0x3Fu);
    return {'\\', 'u', kHex[code >> 12], kHex[(code >> 8) & 0xF], kHex[(code >> 4) & 0xF],
            kHex[code & 0xF]};
  }
  throw ArgumentError("not a match of ESCAPE_SEQUENCE: a text of " +
                      std::to_string(match.size()) + " bytes");
}

std::string escape(std::string_view string) {
  EscapeSequence::Match match = ESCAPE_SEQUENCE.search(string);
  if (match.pos == std::string_view::npos) return std::string(string);
  std::string out;
  out.reserve(string.size() + 8);
  std::size_t done = 0;
  while (match.pos != std::string_view::npos) {
    out.append(string.substr(done, match.pos - done));
    out.append(_escape_repl(match.text));
    done = match.pos + match.text.size();
    match = ESCAPE_SEQUENCE.search(string, done);
  }
  out.append(string.substr(done));
  return out;
}

namespace {

// Escapes nested data without recursion: each work item copies one source value into its
// place in the result, queueing the elements of lists, tuples and maps.
class DataEscaper {
 public:
  void run(const Value& source, Value& target) {
    pending_.push_back({&source, &target});
    drain();
  }
  void run(const Map& source, Map& target) {
    fill_map(source, target);
    drain();
  }

 private:
  struct Work {
    const Value* source;
    Value* target;
  };

  void drain() {
    while (!pending_.empty()) {
      const Work work = pending_.back();
      pending_.pop_back();
      const Value& source = *work.source;
      if (source.is_text()) {
        *work.target = Value(escape(source.as_text()));
      } else if (source.is_sequence()) {
        const List& items = source.as_list();
        *work.target = source.is_tuple() ? Value::tuple(List(items.size())) : Value(List(items.size()));
        List& copies = work.target->as_list();
        for (std::size_t i = 0; i < items.size(); ++i) pending_.push_back({&items[i], &copies[i]});
      } else if (source.is_map()) {
        *work.target = Value(Map());
        fill_map(source.as_map(), work.target->as_map());
      } else {
        *work.target = source;
      }
    }
  }

  // Sets every escaped key first (the map does not change afterwards, so the places queued
  // stay valid), then queues each key's last source value. Keys can only collide when
  // escaping changed one of them.
  void fill_map(const Map& source, Map& target) {
    std::vector<std::string> keys;
    keys.reserve(source.size());
    bool changed = false;
    for (const auto& entry : source) {
      keys.push_back(escape(entry.first));
      changed = changed || keys.back() != entry.first;
    }
    target.reserve(keys.size());
    for (const std::string& key : keys) target.set(key, Value());
    std::unordered_set<std::string_view> queued;
    std::size_t i = keys.size();
    for (auto it = source.end(); it != source.begin();) {
      --it;
      --i;
      if (!changed || queued.insert(keys[i]).second) {
        pending_.push_back({&it->second, target.find(keys[i])});
      }
    }
  }

  std::vector<Work> pending_;
};

}  // namespace

Value escape_data(const Value& data) {
  Value result;
  DataEscaper().run(data, result);
  return result;
}

Map escape_data(const Map& data) {
  Map result;
  DataEscaper().run(data, result);
  return result;
}

}  // namespace morvi::reporter::markfolio
