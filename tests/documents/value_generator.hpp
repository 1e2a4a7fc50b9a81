#pragma once
// Random values and report trees for the differential tests of the results documents: texts
// built to trip a writer (indicators, texts that read as numbers, booleans, nulls or dates,
// white space at the edges, line breaks, control characters, characters from every plane,
// invalid UTF-8, long words and lines), reals at the rounding and formatting edges, nested
// containers, and every other kind of value. Deterministic for a seed.
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "morvi/reporter/trialkit.hpp"
#include "morvi/value.hpp"

namespace morvi::testing {

// An object of no kind the writers know, with the type name and representation given.
class ForeignObject : public Object {
 public:
  ForeignObject(std::string type, std::string repr) : type_(std::move(type)), repr_(std::move(repr)) {}
  std::string type_name() const override { return type_; }
  std::string repr() const override { return repr_; }

 private:
  std::string type_;
  std::string repr_;
};

class ValueGenerator {
 public:
  explicit ValueGenerator(std::uint64_t seed) : rng_(seed) {}

  std::string text();
  // Texts for map keys: mostly short, some past the length of a simple YAML key, a few
  // spanning lines.
  std::string key();
  double real();
  // Any kind of value, containers nested at most `depth` levels.
  Value value(int depth);
  Map map(int depth);
  // A finished job: tasks with plugins and nested sections, started, updated and stopped on a
  // clock the generator drives.
  std::shared_ptr<reporter::trialkit::TrialKit> job(int tasks, int depth);

 private:
  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  std::string words(std::size_t max_length);
  std::string multiline();
  Value datetime();
  Value result();
  Value tally();
  Value error();
  Value leaf();
  void fill_section(reporter::trialkit::ReportObjectBase& parent, int depth);

  std::mt19937_64 rng_;
  std::uint64_t serial_ = 0;
  // Off while building jobs, so that most of them can be written as JSON too.
  bool foreign_objects_ = true;
};

}  // namespace morvi::testing
