#include <string>
#include <unordered_set>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio/escape.hpp"
#include "morvi/utils/xml_chars.hpp"

namespace morvi::reporter::markfolio {

EscapeSequence::Match EscapeSequence::search(std::string_view text,
                                             std::size_t from) const noexcept {
  const utils::XmlUnsafe found = utils::find_xml_unsafe(text, from);
  return {found.pos, found.text};
}

std::string _escape_repl(std::string_view match) {
  try {
    return utils::xml_unsafe_notation(match);
  } catch (const ArgumentError&) {
    throw ArgumentError("not a match of ESCAPE_SEQUENCE: a text of " +
                        std::to_string(match.size()) + " bytes");
  }
}

std::string escape(std::string_view string) { return utils::escape_xml_unsafe(string); }

namespace {

// Escapes nested data without recursion: each work item copies one source value into its
// place in the result, queueing the elements of lists, tuples and maps.
class DataEscaper {
 public:
  void run(const Value& source, Value& target) {
    pending_.push_back({&source, &target});
    drain();
  }
  void run(const Map& source, Map& target, std::initializer_list<std::string_view> left_out = {}) {
    fill_map(source, target, left_out);
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
  // Entries under a key of `left_out` are skipped.
  void fill_map(const Map& source, Map& target, std::initializer_list<std::string_view> left_out = {}) {
    const auto kept = [left_out](std::string_view key) {
      for (std::string_view out : left_out)
        if (key == out) return false;
      return true;
    };
    std::vector<std::string> keys;
    keys.reserve(source.size());
    bool changed = false;
    for (const auto& entry : source) {
      if (!kept(entry.first)) continue;
      keys.push_back(escape(entry.first));
      changed = changed || keys.back() != entry.first;
    }
    target.reserve(keys.size());
    for (const std::string& key : keys) target.set(key, Value());
    std::unordered_set<std::string_view> queued;
    std::size_t i = keys.size();
    for (auto it = source.end(); it != source.begin();) {
      --it;
      if (!kept(it->first)) continue;
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

Map escape_data(const Map& data, std::initializer_list<std::string_view> left_out) {
  Map result;
  DataEscaper().run(data, result, left_out);
  return result;
}

}  // namespace morvi::reporter::markfolio
