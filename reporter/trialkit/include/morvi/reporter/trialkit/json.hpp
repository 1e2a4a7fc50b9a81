#pragma once
// The results document as JSON text.
//
// The text form is exact, because stored documents are compared and validated byte for byte:
// one line; ", " between items and ": " between a key and its value; map entries in insertion
// order; every character outside ASCII as a \u escape (a surrogate pair above the basic
// plane); reals in the shortest form that reads back to the same value, always with a decimal
// point or an exponent, and NaN, Infinity, -Infinity; bytes that are not valid UTF-8 as
// U+FFFD. The writer is written here rather than taken from a library for exactly that form,
// and for speed: it appends to one buffer and writes report nodes, results and tallies in
// place instead of building their replacement maps.
#include <cstddef>
#include <string>

#include "morvi/results_depth.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::trialkit {

class ReportObjectBase;

class JSONDumper {
 public:
  // Report nodes nested deeper than this (a node below this many others, each in the child
  // list or a field of the one above) are refused with a SerializationError naming the node.
  // A results document grows with the square of its nesting (each node lists the ids above
  // it), so the limit keeps a runaway tree from filling memory; it lies well past the depth
  // the XML reports allow (below 2000 levels).
  static constexpr std::size_t max_depth = MAX_REPORT_DEPTH;
  // A results document (dump_json, write_results) whose arrays and objects nest deeper than
  // this is refused likewise, naming the innermost node open: the readers of results
  // documents take this deep and no deeper. It leaves every report as deep as max_depth room
  // for values in its fields. encode and encode_file nest plain values (lists, maps) to any
  // depth.
  static constexpr std::size_t max_nesting = MAX_RESULTS_NESTING;

  // The replacement the writer writes for a value it cannot write by itself, tested in this
  // order: a report node gives a map of its ARG_ORDER fields that are not VALUE_IGNORE values;
  // a result gives {"value", then "reason" and "data" when non-empty}; a tally gives a copy of
  // its counts followed by "total" and "success_rate"; a date-time gives its text form; an
  // error object gives its printable representation. Anything else, or a replacement that
  // comes out empty, is a SerializationError naming the value's kind.
  static Value default_(const Value& obj);

  // `value` as JSON text, nested to any depth (the writer keeps its place on the heap, not on
  // the caller's stack). Throws SerializationError for a value neither the writer nor default_
  // can write, or for report nodes nested past max_depth; nothing is returned then.
  static std::string encode(const Value& value);
  // encode(value) written to the file `path` as it is made, never whole in memory, through a
  // utils::AtomicFile: into a temporary file of its own beside `path`, synced and renamed over
  // it once complete, the folder synced after. On any failure (the refusals of encode, or
  // std::system_error for the file, a full disk among them) the temporary file is removed and
  // `path` is as it was.
  static void encode_file(const Value& value, const std::string& path);
  // The results document of `node`'s subtree (as ReportObjectBase::dump_json returns it)
  // written by encode_file.
  static void write_results(const ReportObjectBase& node, const std::string& path);
};

}  // namespace morvi::reporter::trialkit
#pragma GCC visibility pop
