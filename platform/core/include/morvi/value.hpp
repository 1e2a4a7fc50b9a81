#pragma once
// morvi::Value: the one dynamic value type of the framework. Fields, options, extra data,
// records and documents all hold Values. A Value is 16 bytes: a kind tag and either an inline
// scalar (a date-time too: its ticks, with its UTC offset beside the tag), a text of at most
// kShortText bytes held in the bytes after the tag, or an owning pointer; copying deep-copies
// containers, while report nodes and foreign objects are shared (copying a list of children
// copies pointers, never nodes).
#include <concepts>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/utils/block_pool.hpp"

#pragma GCC visibility push(default)
namespace morvi {

class Value;
class Map;
// Lists are mostly short (a node's details, a section's children): their items come from the
// block pool, as a map's entries do.
using List = std::vector<Value, utils::PoolAllocator<Value>>;

namespace results {
class TestResult;
class ResultCounter;
}  // namespace results

// Base of the objects a Value holds by shared reference: report nodes and foreign objects.
class Object {
 public:
  virtual ~Object() = default;
  // The class name, e.g. "Task".
  virtual std::string type_name() const = 0;
  // The printable representation; by default "<Name object at 0x...>".
  virtual std::string repr() const;
  // True for the report nodes a node value holds, whose base class overrides it: the writers
  // visit every node of a report, and this check is cheaper than a dynamic_cast.
  virtual bool is_report_node() const noexcept { return false; }
};

// An error object carried as data: its kind name and its arguments.
struct ErrorValue;

enum class Kind : std::uint8_t {
  None,
  Bool,
  Int,
  Float,
  Text,
  List,
  Tuple,
  Map,
  AttrMap,
  DateTime,
  Result,
  Tally,
  Node,
  Error,
  Opaque,
};

// "none", "bool", "int", ... as used in error messages.
const char* kind_name(Kind kind) noexcept;

class Value {
 public:
  // Most ids, types and words are this short: they take no block of their own.
  static constexpr std::size_t kShortText = 14;

  Value() noexcept : kind_(Kind::None), i_(0) {}
  Value(std::nullptr_t) noexcept : Value() {}
  Value(bool b) noexcept : kind_(Kind::Bool), b_(b) {}
  // Any integer type, so that `Value(list.size())` needs no cast. Characters and bool are kept
  // apart: a char is text to a reader, and bool has its own kind.
  template <std::integral I>
    requires(!std::same_as<I, bool> && !std::same_as<I, char> && !std::same_as<I, wchar_t> &&
             !std::same_as<I, char8_t> && !std::same_as<I, char16_t> &&
             !std::same_as<I, char32_t>)
  Value(I i) noexcept(std::is_signed_v<I> || sizeof(I) < sizeof(std::int64_t))
      : kind_(Kind::Int), i_(checked_int(i)) {}
  Value(double f) noexcept : kind_(Kind::Float), f_(f) {}
  Value(const char* s);
  Value(std::string_view s);
  Value(std::string s);
  Value(List l);
  Value(Map m);
  Value(DateTime d);
  Value(results::TestResult r);
  Value(results::ResultCounter c);

  static Value list(std::initializer_list<Value> items);
  static Value tuple(List items);
  static Value attr_map(Map m);
  // A report node; `node` must not be null.
  static Value node(std::shared_ptr<Object> node);
  static Value error(std::string kind, List args);
  // Any other object, written by its type name and representation.
  static Value opaque(std::shared_ptr<Object> object);

  Value(const Value& other);
  // A Value holds nothing that points into itself: its bytes move it.
  Value(Value&& other) noexcept {
    std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
    other.forget();
  }
  Value& operator=(const Value& other);
  // Inline: node fields and lists move Values on every change.
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      if (owns_heap()) release();
      std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
      other.forget();
    }
    return *this;
  }
  ~Value() { if (owns_heap()) release(); }

  Kind kind() const noexcept { return kind_; }
  const char* kind_name() const noexcept { return morvi::kind_name(kind_); }

  // Identity test against none, kept apart from truthiness on purpose.
  bool is_none() const noexcept { return kind_ == Kind::None; }
  // None, false, 0, 0.0 and empty text/list/tuple/map are falsy; everything else is truthy.
  bool truthy() const noexcept;
  explicit operator bool() const noexcept { return truthy(); }

  bool is_bool() const noexcept { return kind_ == Kind::Bool; }
  bool is_int() const noexcept { return kind_ == Kind::Int; }
  bool is_float() const noexcept { return kind_ == Kind::Float; }
  bool is_number() const noexcept { return kind_ == Kind::Int || kind_ == Kind::Float; }
  bool is_text() const noexcept { return kind_ == Kind::Text; }
  bool is_list() const noexcept { return kind_ == Kind::List; }
  bool is_tuple() const noexcept { return kind_ == Kind::Tuple; }
  bool is_sequence() const noexcept { return kind_ == Kind::List || kind_ == Kind::Tuple; }
  // A plain map or an attr map.
  bool is_map() const noexcept { return kind_ == Kind::Map || kind_ == Kind::AttrMap; }
  bool is_datetime() const noexcept { return kind_ == Kind::DateTime; }
  bool is_result() const noexcept { return kind_ == Kind::Result; }
  bool is_tally() const noexcept { return kind_ == Kind::Tally; }
  bool is_node() const noexcept { return kind_ == Kind::Node; }
  bool is_error() const noexcept { return kind_ == Kind::Error; }
  bool is_opaque() const noexcept { return kind_ == Kind::Opaque; }

  // Typed access; each throws TypeError naming the expected and the actual kind.
  bool as_bool() const;
  std::int64_t as_int() const;
  // An int or a float as a double.
  double as_number() const;
  // A view of the text, valid while the Value holds it unchanged and in place.
  std::string_view as_text() const;
  // A list or a tuple.
  const List& as_list() const;
  List& as_list();
  // A map or an attr map.
  const Map& as_map() const;
  Map& as_map();
  // By value: a date-time is held inline, not as an object of its own.
  DateTime as_datetime() const;
  const results::TestResult& as_result() const;
  results::TestResult& as_result();
  const results::ResultCounter& as_tally() const;
  results::ResultCounter& as_tally();
  // A node or an opaque object.
  const std::shared_ptr<Object>& as_object() const;
  const ErrorValue& as_error() const;

  // The text form ("None", "True", "1.0", the text itself, "[1, 'a']", ...).
  std::string to_text() const;
  void append_text(std::string& out) const;
  // The printable representation (texts quoted: "'a'").
  std::string to_repr() const;
  void append_repr(std::string& out) const;

  // By kind and content; numbers compare across bool/int/float, a map equals an attr map
  // with the same entries, nodes and objects compare by identity.
  friend bool operator==(const Value& a, const Value& b);

 private:
  // Whether the payload points to something of the Value's own: not for the inline kinds nor
  // a short text.
  bool owns_heap() const noexcept {
    return kind_ > Kind::Float && kind_ != Kind::DateTime && short_ == 0;
  }
  // Back to none without releasing anything: what a move leaves behind.
  void forget() noexcept {
    kind_ = Kind::None;
    short_ = 0;
    i_ = 0;
  }
  void set_text(std::string_view s);
  // A short text's bytes: from the one after short_ to the end of the Value.
  const char* short_chars() const noexcept { return reinterpret_cast<const char*>(this) + 2; }
  char* short_chars() noexcept { return reinterpret_cast<char*>(this) + 2; }
  void release() noexcept;
  void copy_from(const Value& other);
  [[noreturn]] void wrong_kind(const char* expected) const;
  [[noreturn]] static void unsigned_out_of_range(unsigned long long i);

  template <class I>
  static std::int64_t checked_int(I i) {
    if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(std::int64_t)) {
      if (i > static_cast<I>(INT64_MAX)) unsigned_out_of_range(i);
    }
    return static_cast<std::int64_t>(i);
  }

  // A date-time's UTC offset in minutes, kNaive for a naive one; it fills the padding after
  // the tag, so the ticks alone take the payload.
  static constexpr std::int16_t kNaive = INT16_MIN;

  Kind kind_;
  // A short text's length plus one; 0 for every other value, a long text included.
  std::uint8_t short_ = 0;
  std::int16_t offset_ = kNaive;
  // Room for a short text's bytes, with offset_ and the payload.
  std::uint32_t spare_ = 0;
  union {
    bool b_;
    std::int64_t i_;
    double f_;
    std::string* s_;
    List* l_;
    Map* m_;
    results::TestResult* r_;
    results::ResultCounter* c_;
    std::shared_ptr<Object>* o_;
    ErrorValue* e_;
  };
};

// Declared again outside the class: a friend declaration alone does not export the function.
bool operator==(const Value& a, const Value& b);

static_assert(sizeof(Value) == 16 && Value::kShortText == sizeof(Value) - 2,
              "a short text fills the Value after its tag and length");

// Inline: the writers read every text through it.
inline std::string_view Value::as_text() const {
  if (kind_ != Kind::Text) wrong_kind("text");
  return short_ != 0 ? std::string_view(short_chars(), short_ - 1u) : std::string_view(*s_);
}

struct ErrorValue {
  std::string kind;
  List args;
};

// An insertion-ordered map from text to Value. Small maps search linearly; larger ones keep a
// hash index beside the entries. Equality ignores order, as for any mapping.
class Map {
 public:
  using Entry = std::pair<std::string, Value>;
  // Most maps are small and short-lived (options, events, `extra`): their entries come from
  // the block pool.
  using Entries = std::vector<Entry, utils::PoolAllocator<Entry>>;
  using iterator = Entries::iterator;
  using const_iterator = Entries::const_iterator;

  Map() = default;
  Map(std::initializer_list<Entry> entries);
  Map(const Map& other) : entries_(other.entries_) {}
  Map(Map&&) noexcept = default;
  Map& operator=(const Map& other);
  Map& operator=(Map&&) noexcept = default;

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  iterator begin() noexcept { return entries_.begin(); }
  iterator end() noexcept { return entries_.end(); }

  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // The value at `key`; LookupError naming the key when it is missing.
  const Value& at(std::string_view key) const;
  Value& at(std::string_view key);
  // The value at `key`, appending a none entry when it is missing.
  Value& operator[](std::string_view key);
  // Sets `key`, keeping its position when it exists, appending it otherwise.
  void set(std::string_view key, Value value);
  // Removes `key` and returns its value, or nothing when it was missing.
  std::optional<Value> take(std::string_view key);
  void clear() noexcept;
  void reserve(std::size_t n) { entries_.reserve(n); }

  friend bool operator==(const Map& a, const Map& b);

 private:
  // Value copies a map's entries itself, one level at a time.
  friend class Value;
  static constexpr std::size_t kIndexFrom = 12;
  std::ptrdiff_t position(std::string_view key) const;
  void index_tail() const;

  Entries entries_;
  // Built once the map has kIndexFrom entries; maps key hash to entry positions.
  mutable std::unique_ptr<std::unordered_multimap<std::size_t, std::size_t>> index_;
};

// Declared again outside the class: a friend declaration alone does not export the function.
bool operator==(const Map& a, const Map& b);

// Number forms shared by every writer.
// Shortest text that reads back as `x`, as a dynamic language prints a real: "1.0", "0.1",
// "1e-05", "1e+16", "inf", "-inf", "nan".
void append_float_repr(std::string& out, double x);
// The longest text write_float_repr writes.
inline constexpr std::size_t kFloatReprMax = 32;
// append_float_repr's text written at `out`; returns the end of it.
char* write_float_repr(char* out, double x) noexcept;
std::string float_repr(double x);
// `x` rounded to `ndigits` decimals from its exact binary value, ties to even.
double round_decimals(double x, int ndigits);
// The longest text write_rounded_float_repr writes.
inline constexpr std::size_t kRoundedFloatReprMax = 32;
// float_repr(round_decimals(x, ndigits)) written at `out`; returns the end of it.
char* write_rounded_float_repr(char* out, double x, int ndigits);
// Appends a text's printable representation ('a', "it's", with escapes).
void append_text_repr(std::string& out, std::string_view text);

}  // namespace morvi
#pragma GCC visibility pop
