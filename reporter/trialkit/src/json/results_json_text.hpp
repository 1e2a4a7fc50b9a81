#pragma once
// Results documents as JSON text: written as JSONDumper::encode and encode_file write any
// value, except that arrays and objects nested deeper than JSONDumper::max_nesting are refused
// with a SerializationError naming the innermost node open, so that no document is written
// that its readers refuse.
#include <string>

#include "morvi/value.hpp"

namespace morvi::reporter::trialkit {

std::string encode_results(const Value& document);
void encode_results_file(const Value& document, const std::string& path);

}  // namespace morvi::reporter::trialkit
