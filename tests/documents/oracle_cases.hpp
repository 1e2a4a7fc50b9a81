#pragma once
// The bridge to the Python oracle (tests/oracle/documents_oracle.py): values in the tagged
// form it reads, and one run of it over many cases.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "morvi/value.hpp"

namespace morvi::testing {

// Texts as hex bytes (so invalid UTF-8 reaches the oracle as it is), reals as their bits,
// report nodes as their kind, field order, present fields and representation.
nlohmann::json tagged(const Value& value);

// What the oracle wrote for one case; empty where its writer refused the value.
struct OracleDocuments {
  std::optional<std::string> json;
  std::optional<std::string> yaml;
};

std::vector<OracleDocuments> run_oracle(const std::vector<nlohmann::json>& cases);

}  // namespace morvi::testing
