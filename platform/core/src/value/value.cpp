#include "morvi/value.hpp"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/kind_names.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/block_pool.hpp"

namespace morvi {

std::string Object::repr() const {
  char addr[32];
  std::snprintf(addr, sizeof addr, "%p", static_cast<const void*>(this));
  return "<" + type_name() + " object at " + addr + ">";
}

namespace {

// Indexed by Kind.
constexpr KindNames kKindNames[] = {
    {"none", "NoneType"},
    {"bool", "bool"},
    {"int", "int"},
    {"float", "float"},
    {"text", "str"},
    {"list", "list"},
    {"tuple", "tuple"},
    {"map", "dict"},
    {"attr map", "AttrDict"},
    {"date-time", "datetime"},
    {"result", "TestResult"},
    {"tally", "ResultCounter"},
    {"node", nullptr},
    {"error", nullptr},
    {"object", nullptr},
};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(Kind::Opaque) + 1,
              "every kind has its names");

}  // namespace

const KindNames& names_of(Kind kind) noexcept {
  return kKindNames[static_cast<std::size_t>(kind)];
}

const char* kind_name(Kind kind) noexcept { return names_of(kind).word; }

void Value::unsigned_out_of_range(unsigned long long i) {
  throw ArgumentError("the integer " + std::to_string(i) + " is past the largest int (2**63 - 1)");
}

void Value::set_text(std::string_view s) {
  if (s.size() <= kShortText) {
    short_ = static_cast<std::uint8_t>(s.size() + 1);
    if (!s.empty()) std::memcpy(short_chars(), s.data(), s.size());
  } else {
    s_ = utils::pool_new<std::string>(s);
  }
  kind_ = Kind::Text;
}

Value::Value(const char* s) : Value(std::string_view(s)) {}
Value::Value(std::string_view s) : kind_(Kind::None), i_(0) { set_text(s); }
Value::Value(std::string s) : kind_(Kind::None), i_(0) {
  if (s.size() <= kShortText) {
    set_text(s);
    return;
  }
  s_ = utils::pool_new<std::string>(std::move(s));
  kind_ = Kind::Text;
}
Value::Value(List l) : kind_(Kind::List), l_(utils::pool_new<List>(std::move(l))) {}
Value::Value(Map m) : kind_(Kind::Map), m_(utils::pool_new<Map>(std::move(m))) {}
Value::Value(DateTime d)
    : kind_(Kind::DateTime), offset_(d.has_offset_ ? d.offset_minutes_ : kNaive), i_(d.ticks_) {}
Value::Value(results::TestResult r)
    : kind_(Kind::Result), r_(utils::pool_new<results::TestResult>(std::move(r))) {}
Value::Value(results::ResultCounter c)
    : kind_(Kind::Tally), c_(utils::pool_new<results::ResultCounter>(std::move(c))) {}

Value Value::list(std::initializer_list<Value> items) { return Value(List(items)); }

Value Value::tuple(List items) {
  Value v(std::move(items));
  v.kind_ = Kind::Tuple;
  return v;
}

Value Value::attr_map(Map m) {
  Value v(std::move(m));
  v.kind_ = Kind::AttrMap;
  return v;
}

Value Value::node(std::shared_ptr<Object> node) {
  if (!node) throw ArgumentError("a node value needs a node");
  Value v;
  v.kind_ = Kind::Node;
  v.o_ = utils::pool_new<std::shared_ptr<Object>>(std::move(node));
  return v;
}

Value Value::opaque(std::shared_ptr<Object> object) {
  if (!object) throw ArgumentError("an object value needs an object");
  Value v;
  v.kind_ = Kind::Opaque;
  v.o_ = utils::pool_new<std::shared_ptr<Object>>(std::move(object));
  return v;
}

Value Value::error(std::string kind, List args) {
  Value v;
  v.kind_ = Kind::Error;
  v.e_ = utils::pool_new<ErrorValue>(ErrorValue{std::move(kind), std::move(args)});
  return v;
}

Value::Value(const Value& other) : kind_(Kind::None), i_(0) {
  try {
    copy_from(other);
  } catch (...) {
    release();
    throw;
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

namespace {

// Lists, tuples, maps, attr maps, errors and results (their data) hold further Values.
bool holds_values(Kind kind) noexcept {
  return kind == Kind::List || kind == Kind::Tuple || kind == Kind::Map ||
         kind == Kind::AttrMap || kind == Kind::Error || kind == Kind::Result;
}

using CopyWork = std::vector<std::pair<const Value*, Value*>>;

// A result's data, to be filled or emptied in place (the result itself is not const).
Map& data_of(results::TestResult& result) { return const_cast<Map&>(result.data()); }

// Copies `from` into `into` (index `i` of a list being filled), or leaves a none there and
// queues the copy when `from` holds further Values.
void copy_or_queue(const Value& from, List& into, CopyWork& pending) {
  if (holds_values(from.kind())) {
    pending.emplace_back(&from, &into.emplace_back());
  } else {
    into.push_back(from);
  }
}

}  // namespace

void Value::copy_from(const Value& other) {
  if (!holds_values(other.kind_)) {
    switch (other.kind_) {
      case Kind::Text:
        if (other.short_ != 0) {
          std::memcpy(static_cast<void*>(this), static_cast<const void*>(&other), sizeof(Value));
          return;
        }
        s_ = utils::pool_new<std::string>(*other.s_);
        break;
      case Kind::Tally: c_ = utils::pool_new<results::ResultCounter>(*other.c_); break;
      case Kind::Node:
      case Kind::Opaque: o_ = utils::pool_new<std::shared_ptr<Object>>(*other.o_); break;
      default:
        offset_ = other.offset_;
        i_ = other.i_;
        break;
    }
    kind_ = other.kind_;
    return;
  }
  // Containers are copied one level at a time from a work list, so that a value nested
  // thousands of levels deep is copied without deep recursion. Every level is a whole Value
  // as soon as it is allocated: a failure part way leaves nothing to leak.
  CopyWork pending;
  // The entries of `source` into the empty `target`, queueing the values that hold further
  // Values.
  const auto copy_entries = [&pending](const Map& source, Map& target) {
    auto& entries = target.entries_;
    entries.reserve(source.size());
    for (const auto& [key, item] : source) {
      if (holds_values(item.kind_)) {
        pending.emplace_back(&item, &entries.emplace_back(key, Value()).second);
      } else {
        entries.emplace_back(key, item);
      }
    }
  };
  const Value* from = &other;
  Value* into = this;
  for (;;) {
    switch (from->kind_) {
      case Kind::List:
      case Kind::Tuple: {
        into->l_ = utils::pool_new<List>();
        into->kind_ = from->kind_;
        into->l_->reserve(from->l_->size());
        for (const Value& item : *from->l_) copy_or_queue(item, *into->l_, pending);
        break;
      }
      case Kind::Map:
      case Kind::AttrMap: {
        into->m_ = utils::pool_new<Map>();
        into->kind_ = from->kind_;
        copy_entries(*from->m_, *into->m_);
        break;
      }
      case Kind::Result: {
        const results::TestResult& result = *from->r_;
        into->r_ = utils::pool_new<results::TestResult>(result.code(), result.reason());
        into->kind_ = Kind::Result;
        copy_entries(result.data(), data_of(*into->r_));
        break;
      }
      case Kind::Error: {
        into->e_ = utils::pool_new<ErrorValue>(ErrorValue{from->e_->kind, {}});
        into->kind_ = Kind::Error;
        into->e_->args.reserve(from->e_->args.size());
        for (const Value& arg : from->e_->args) copy_or_queue(arg, into->e_->args, pending);
        break;
      }
      default: break;  // only the kinds above are ever queued
    }
    if (pending.empty()) return;
    std::tie(from, into) = pending.back();
    pending.pop_back();
  }
}

namespace {

bool is_nested_container(const Value& v) {
  switch (v.kind()) {
    case Kind::List:
    case Kind::Tuple: return !v.as_list().empty();
    case Kind::Map:
    case Kind::AttrMap: return !v.as_map().empty();
    case Kind::Error: return !v.as_error().args.empty();
    case Kind::Result: return !v.as_result().data().empty();
    default: return false;
  }
}

// Moves the non-empty containers held directly by `v` onto `pending`.
void detach_children(Value& v, std::vector<Value>& pending) {
  if (v.is_sequence()) {
    for (Value& item : v.as_list())
      if (is_nested_container(item)) pending.push_back(std::move(item));
  } else if (v.is_map()) {
    for (auto& entry : v.as_map())
      if (is_nested_container(entry.second)) pending.push_back(std::move(entry.second));
  } else if (v.is_error()) {
    for (Value& arg : const_cast<ErrorValue&>(v.as_error()).args)
      if (is_nested_container(arg)) pending.push_back(std::move(arg));
  } else if (v.is_result()) {
    for (auto& entry : data_of(v.as_result()))
      if (is_nested_container(entry.second)) pending.push_back(std::move(entry.second));
  }
}

bool holds_nested(const Value& v) {
  if (v.is_sequence()) {
    for (const Value& item : v.as_list())
      if (is_nested_container(item)) return true;
  } else if (v.is_map()) {
    for (const auto& entry : v.as_map())
      if (is_nested_container(entry.second)) return true;
  } else if (v.is_error()) {
    for (const Value& arg : v.as_error().args)
      if (is_nested_container(arg)) return true;
  } else if (v.is_result()) {
    for (const auto& entry : v.as_result().data())
      if (is_nested_container(entry.second)) return true;
  }
  return false;
}

}  // namespace

void Value::release() noexcept {
  // Containers of containers are taken apart with an explicit stack, so a value nested
  // thousands of levels deep is destroyed without deep recursion.
  if (holds_values(kind_) && holds_nested(*this)) {
    std::vector<Value> pending;
    detach_children(*this, pending);
    while (!pending.empty()) {
      Value v = std::move(pending.back());
      pending.pop_back();
      detach_children(v, pending);
    }
  }
  switch (kind_) {
    case Kind::None:
    case Kind::Bool:
    case Kind::Int:
    case Kind::Float:
    case Kind::DateTime: break;
    case Kind::Text:
      if (short_ == 0) utils::pool_delete(s_);
      break;
    case Kind::List:
    case Kind::Tuple: utils::pool_delete(l_); break;
    case Kind::Map:
    case Kind::AttrMap: utils::pool_delete(m_); break;
    case Kind::Result: utils::pool_delete(r_); break;
    case Kind::Tally: utils::pool_delete(c_); break;
    case Kind::Node:
    case Kind::Opaque: utils::pool_delete(o_); break;
    case Kind::Error: utils::pool_delete(e_); break;
  }
  forget();
}

bool Value::truthy() const noexcept {
  switch (kind_) {
    case Kind::None: return false;
    case Kind::Bool: return b_;
    case Kind::Int: return i_ != 0;
    case Kind::Float: return f_ != 0.0;
    case Kind::Text: return short_ != 0 ? short_ > 1 : !s_->empty();
    case Kind::List:
    case Kind::Tuple: return !l_->empty();
    case Kind::Map:
    case Kind::AttrMap: return !m_->empty();
    default: return true;
  }
}

void Value::wrong_kind(const char* expected) const {
  throw TypeError(std::string("expected a ") + expected + " value, got " + kind_name());
}

bool Value::as_bool() const {
  if (kind_ != Kind::Bool) wrong_kind("bool");
  return b_;
}

std::int64_t Value::as_int() const {
  if (kind_ == Kind::Int) return i_;
  if (kind_ == Kind::Bool) return b_ ? 1 : 0;
  wrong_kind("int");
}

double Value::as_number() const {
  if (kind_ == Kind::Float) return f_;
  if (kind_ == Kind::Int) return static_cast<double>(i_);
  if (kind_ == Kind::Bool) return b_ ? 1.0 : 0.0;
  wrong_kind("number");
}

const List& Value::as_list() const {
  if (!is_sequence()) wrong_kind("list");
  return *l_;
}
List& Value::as_list() {
  if (!is_sequence()) wrong_kind("list");
  return *l_;
}
const Map& Value::as_map() const {
  if (!is_map()) wrong_kind("map");
  return *m_;
}
Map& Value::as_map() {
  if (!is_map()) wrong_kind("map");
  return *m_;
}
DateTime Value::as_datetime() const {
  if (kind_ != Kind::DateTime) wrong_kind("date-time");
  DateTime d;
  d.ticks_ = i_;
  d.has_offset_ = offset_ != kNaive;
  d.offset_minutes_ = d.has_offset_ ? offset_ : std::int16_t{0};
  return d;
}
const results::TestResult& Value::as_result() const {
  if (kind_ != Kind::Result) wrong_kind("result");
  return *r_;
}
results::TestResult& Value::as_result() {
  if (kind_ != Kind::Result) wrong_kind("result");
  return *r_;
}
const results::ResultCounter& Value::as_tally() const {
  if (kind_ != Kind::Tally) wrong_kind("tally");
  return *c_;
}
results::ResultCounter& Value::as_tally() {
  if (kind_ != Kind::Tally) wrong_kind("tally");
  return *c_;
}
const std::shared_ptr<Object>& Value::as_object() const {
  if (kind_ != Kind::Node && kind_ != Kind::Opaque) wrong_kind("node");
  return *o_;
}
const ErrorValue& Value::as_error() const {
  if (kind_ != Kind::Error) wrong_kind("error");
  return *e_;
}

namespace {

using CompareWork = std::vector<std::pair<const Value*, const Value*>>;

// Whether two maps have the same keys; the pairs of values under them are queued.
bool same_entries(const Map& x, const Map& y, CompareWork& pending) {
  if (x.size() != y.size()) return false;
  for (const auto& [key, value] : x) {
    const Value* other = y.find(key);
    if (other == nullptr) return false;
    pending.emplace_back(&value, other);
  }
  return true;
}

// Compares what `a` and `b` hold at their own level and queues the pairs of values they hold.
bool same_level(const Value& a, const Value& b, CompareWork& pending) {
  const bool a_num = a.is_bool() || a.is_number();
  const bool b_num = b.is_bool() || b.is_number();
  if (a_num || b_num) {
    if (!(a_num && b_num)) return false;
    if (!a.is_float() && !b.is_float()) return a.as_int() == b.as_int();
    return a.as_number() == b.as_number();
  }
  if (a.is_map() && b.is_map()) return same_entries(a.as_map(), b.as_map(), pending);
  if (a.kind() != b.kind()) return false;
  const auto pairwise = [&pending](const List& x, const List& y) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) pending.emplace_back(&x[i], &y[i]);
    return true;
  };
  switch (a.kind()) {
    case Kind::None: return true;
    case Kind::Text: return a.as_text() == b.as_text();
    case Kind::List:
    case Kind::Tuple: return pairwise(a.as_list(), b.as_list());
    case Kind::DateTime: return a.as_datetime() == b.as_datetime();
    case Kind::Result: {
      const results::TestResult& x = a.as_result();
      const results::TestResult& y = b.as_result();
      return x.code() == y.code() && x.reason() == y.reason() &&
             same_entries(x.data(), y.data(), pending);
    }
    case Kind::Tally: return a.as_tally() == b.as_tally();
    case Kind::Node:
    case Kind::Opaque: return a.as_object().get() == b.as_object().get();
    case Kind::Error:
      return a.as_error().kind == b.as_error().kind && pairwise(a.as_error().args, b.as_error().args);
    default: return false;
  }
}

}  // namespace

// Walked with a work list: values nested thousands of levels deep compare without deep
// recursion.
bool operator==(const Value& a, const Value& b) {
  CompareWork pending;
  const Value* x = &a;
  const Value* y = &b;
  for (;;) {
    if (!same_level(*x, *y, pending)) return false;
    if (pending.empty()) return true;
    std::tie(x, y) = pending.back();
    pending.pop_back();
  }
}

}  // namespace morvi
