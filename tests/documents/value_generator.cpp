#include "value_generator.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "morvi/datetime.hpp"
#include "morvi/results.hpp"
#include "morvi/utils/utils.hpp"

namespace morvi::testing {
namespace {

using namespace std::string_view_literals;
using reporter::trialkit::Options;

const std::vector<std::string_view> kFragments = {
    // indicators and separators
    " ", "  ", "'", "\"", "''", "#", " #", "# ", ":", ": ", " :", "-", "- ", "--", "---", "...",
    "?", "? ", ",", "[", "]", "{", "}", "&", "*", "!", "|", ">", "%", "@", "`", "\\", "/", "=",
    "<<", "~", "|-", ">+",
    // texts that read as something else
    "true", "false", "yes", "No", "ON", "off", "y", "n", "null", "Null", "NULL", "3.4", "1.0",
    "1e+16", "1e16", ".5", "-.inf", ".NaN", "0x1F", "0b101", "0o17", "017", "08", "1_000",
    "1:30", "190:20:30.15", "+12", "-0", "2001-12-14", "2001-12-14 21:59:43.10 -5",
    "2001-12-14t21:59:43.10-05:00", "2002-12-14 21:59:43", "12:30:45", "passed", "failed",
    // breaks, white space and control characters
    "\t", "\r", "\n", "\r\n", "\n\n", " \n", "\n ", "\0"sv, "\x07", "\x1b", "\x7f", "\x0b",
    "\x0c", "\x1c",
    // beyond ASCII, every plane, the special breaks and spaces
    "\xc3\xa9", "\xc3\x9f", "\xe2\x82\xac", "\xe4\xb8\xad\xe6\x96\x87", "\xf0\x9f\x98\x80",
    "\xf0\x9d\x84\x9e", "\xc2\x85", "\xc2\xa0", "\xe2\x80\xa8", "\xe2\x80\xa9", "\xef\xbb\xbf",
    "\xe3\x80\x80", "\xe2\x80\x83", "\xef\xbf\xbd", "\xf4\x8f\xbf\xbf", "\xee\x80\x80",
    "\xf3\xa0\x80\x81",
    // not UTF-8
    "\xff", "\xc3", "\xed\xa0\x80", "\xf0\x9f\x98", "\xc0\xaf", "\x80", "\xe2\x82",
};

const std::vector<std::string_view> kWords = {
    "a", "the", "step", "passed", "failed", "device", "interface", "GigabitEthernet0/0/1", "x",
    "configuration", "verify", "ping", "10.0.0.1", "-", "ok", "#1", "key:", "value", "is", "on",
};

const double kEdgeReals[] = {
    0.0, -0.0, 1.0, 2.0, 0.1, 0.005, 0.015, 0.025, 0.125, 0.375, 2.675, 1.005, 12.345, 0.333333,
    1e16, 1e-5, 1e22, 1.5e16, 9.995e15, 123456789.125, 1e300, -1e300, 5e-324, 1.7976931348623157e308,
    -2.5, 99.995, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
};

const char* const kErrorKinds[] = {"ValueError", "KeyError", "RuntimeError", "TimeoutError"};

}  // namespace

std::string ValueGenerator::words(std::size_t max_length) {
  std::string out;
  const std::size_t length = below(max_length + 1);
  while (out.size() < length) {
    if (!out.empty()) out += chance(0.9) ? " " : "  ";
    out += kWords[below(kWords.size())];
  }
  return out;
}

std::string ValueGenerator::multiline() {
  std::string out;
  const std::size_t lines = 1 + below(6);
  for (std::size_t i = 0; i < lines; ++i) {
    if (i) out += chance(0.1) ? "\r\n" : "\n";
    if (chance(0.3)) out.append(below(5), ' ');
    out += chance(0.3) ? text() : words(chance(0.2) ? 200 : 60);
    if (chance(0.3)) out += chance(0.5) ? "  " : "\t ";
  }
  if (chance(0.4)) out.append(below(3), '\n');
  return out;
}

std::string ValueGenerator::text() {
  switch (below(8)) {
    case 0: return std::string(kFragments[below(kFragments.size())]);
    case 1: return words(chance(0.5) ? 300 : 90);
    case 2: return std::string(80 + below(120), "abxy"[below(4)]);
    case 3: {
      std::string out = words(160);
      out.insert(below(out.size() + 1), kFragments[below(kFragments.size())]);
      return out;
    }
    case 4: return multiline();
    default: {
      std::string out;
      for (std::size_t n = below(9); n > 0; --n) {
        out += kFragments[below(kFragments.size())];
        if (chance(0.5)) out += kWords[below(kWords.size())];
      }
      return out;
    }
  }
}

std::string ValueGenerator::key() {
  std::string k;
  if (chance(0.05))
    k = std::string(118 + below(10), 'k');
  else if (chance(0.03))
    k = multiline();
  else if (chance(0.5))
    k = std::string(kWords[below(kWords.size())]) + std::to_string(below(100));
  else
    k = chance(0.5) ? std::string(kFragments[below(kFragments.size())]) : text();
  // Keys that differ only in bytes that are not UTF-8 would read as one key; a serial number
  // keeps every key beyond ASCII distinct.
  for (const char c : k)
    if (static_cast<unsigned char>(c) >= 0x80) return k + "#" + std::to_string(++serial_);
  return k;
}

double ValueGenerator::real() {
  switch (below(5)) {
    case 0:
    case 1: return kEdgeReals[below(std::size(kEdgeReals))];
    case 2: return static_cast<double>(static_cast<std::int64_t>(below(200000)) - 100000) / 1000.0;
    case 3: {
      const double mantissa = std::uniform_real_distribution<double>(-10, 10)(rng_);
      return mantissa * std::pow(10.0, static_cast<int>(below(44)) - 22);
    }
    default: {
      double x;
      do {
        const std::uint64_t bits = rng_();
        std::memcpy(&x, &bits, sizeof x);
      } while (!std::isfinite(x));
      return x;
    }
  }
}

Value ValueGenerator::datetime() {
  const std::optional<int> offset =
      chance(0.5) ? std::nullopt : std::optional<int>(static_cast<int>(below(2879)) - 1439);
  const int micro = chance(0.5) ? 0 : static_cast<int>(below(1000000));
  return DateTime(1 + static_cast<int>(below(9999)), 1 + static_cast<int>(below(12)),
                  1 + static_cast<int>(below(28)), static_cast<int>(below(24)),
                  static_cast<int>(below(60)), static_cast<int>(below(60)), micro, offset);
}

Value ValueGenerator::result() {
  results::TestResult r(static_cast<results::ResultCode>(below(7)));
  if (chance(0.5)) r.set_reason(text());
  if (chance(0.3)) r.set_data(map(1));
  return r;
}

Value ValueGenerator::tally() {
  results::ResultCounter c;
  for (std::string_view name : results::kTallyNames)
    if (chance(0.5)) c.set_count(name, static_cast<std::int64_t>(below(1000)));
  if (chance(0.3)) c.set_count(std::string(kWords[below(kWords.size())]), static_cast<std::int64_t>(below(9)));
  return c;
}

Value ValueGenerator::error() {
  List args;
  for (std::size_t n = below(3); n > 0; --n)
    args.push_back(chance(0.5) ? Value(static_cast<std::int64_t>(below(100))) : Value(words(30) + "'\""));
  return Value::error(kErrorKinds[below(std::size(kErrorKinds))], std::move(args));
}

Value ValueGenerator::leaf() {
  switch (below(12)) {
    case 0: return Value();
    case 1: return Value(chance(0.5));
    case 2: {
      const std::int64_t edges[] = {0, -1, 42, std::numeric_limits<std::int64_t>::min(),
                                    std::numeric_limits<std::int64_t>::max()};
      return chance(0.3) ? Value(edges[below(5)]) : Value(static_cast<std::int64_t>(rng_() >> below(64)));
    }
    case 3:
    case 4: return Value(real());
    case 5: return datetime();
    case 6: return result();
    case 7: return tally();
    case 8: return error();
    case 9:
      if (!foreign_objects_) return Value(text());
      return Value::opaque(std::make_shared<ForeignObject>(chance(0.5) ? "Device" : "set", text()));
    default: return Value(text());
  }
}

Map ValueGenerator::map(int depth) {
  Map m;
  for (std::size_t n = below(6); n > 0; --n) m.set(key(), value(depth - 1));
  return m;
}

Value ValueGenerator::value(int depth) {
  if (depth <= 0 || chance(0.45)) return leaf();
  switch (below(6)) {
    case 0:
    case 1: {
      List items;
      for (std::size_t n = below(5); n > 0; --n) items.push_back(value(depth - 1));
      return chance(0.8) ? Value(std::move(items)) : Value::tuple(std::move(items));
    }
    case 2: return Value::attr_map(map(depth));
    case 3: {
      auto node = reporter::trialkit::ReportObjectBase::create(Value(text()), Value(1));
      node->update(Map{{"name", Value(text())}, {"extra", Value(map(depth - 1))}});
      return Value::node(node);
    }
    default: return Value(map(depth));
  }
}

void ValueGenerator::fill_section(reporter::trialkit::ReportObjectBase& parent, int depth) {
  for (std::size_t n = below(4); n > 0; --n) {
    std::shared_ptr<reporter::trialkit::ReportObjectBase> section;
    const Value id(chance(0.8) ? std::string(kWords[below(kWords.size())]) : text());
    if (auto* task = dynamic_cast<reporter::trialkit::Task*>(&parent))
      section = chance(0.2) ? std::shared_ptr<reporter::trialkit::ReportObjectBase>(task->add_plugin(id, Value(1)))
                            : task->add_section(id, Value(1), Value(chance(0.5) ? "TestCase" : "Step"));
    else if (auto* s = dynamic_cast<reporter::trialkit::Section*>(&parent))
      section = s->add_section(id, Value(1));
    else if (auto* plugin = dynamic_cast<reporter::trialkit::Plugin*>(&parent))
      section = plugin->add_section(id, Value(1));
    else
      return;
    section->start(Options{{"description", Value(text())}});
    if (chance(0.5)) section->update(Map{{"details", Value(text())}, {chance(0.5) ? "free" : "note", value(2)}});
    if (depth > 0) fill_section(*section, depth - 1);
    Options stop;
    if (chance(0.8)) stop.set("result", result());
    if (chance(0.1)) stop.set("result_rollup", Value(false));
    section->stop(std::move(stop));
  }
}

std::shared_ptr<reporter::trialkit::TrialKit> ValueGenerator::job(int tasks, int depth) {
  std::int64_t ticks = 63'800'000'000'000'000 + static_cast<std::int64_t>(below(1'000'000'000'000));
  const std::optional<int> offset = chance(0.5) ? std::nullopt : std::optional<int>(120);
  utils::ScopedClock clock([&] {
    ticks += static_cast<std::int64_t>(below(chance(0.3) ? 3'000'000 : 2'000));
    return DateTime::from_ticks(ticks, offset);
  });
  foreign_objects_ = false;
  auto job = reporter::trialkit::TrialKit::create(Value("job"), Value(1));
  job->start(Options{{"cli", Value(text())}, {"host", Value("lab-1")}, {"submitter", Value(text())}});
  for (int t = 0; t < tasks; ++t) {
    auto task = job->add_task(Value("task-" + std::to_string(t)), Value(t + 1));
    task->start(Options{{"description", Value(multiline())}, {"parameters", Value(map(2))}});
    fill_section(*task, depth);
    if (chance(0.2)) task->update(Map{{"result", result()}});
    task->stop();
  }
  if (chance(0.5)) job->add_plugin(Value("health"), Value(0))->stop();
  job->stop(Options{{"num_tasks", Value(tasks + 1)}});
  foreign_objects_ = true;
  return job;
}

}  // namespace morvi::testing
