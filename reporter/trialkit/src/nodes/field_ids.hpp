#pragma once
// Field names as small numbers, so that node storage and the lifecycle steps never compare
// names more than once per call.
#include <array>
#include <cstdint>
#include <string_view>

#include "morvi/reporter/trialkit.hpp"

namespace morvi::reporter::trialkit {

enum class FieldId : std::uint8_t {
  // ARG_ORDER names of every kind
  type, id, fullid, idlist, name, starttime, stoptime, runtime, details, extra,
  job_type, suite_name, cli, jobfile, jobfile_hash, xref, morvipath, morviversion, host,
  submitter, user, archivefile, summary, pluginsummary, result, totaltasks, tasks,
  health_result, health_summary, source_id,
  script_type, description, logfile, testscript, testscript_hash, datafile, datafile_hash,
  parameters, sections, logs, lumo_uid, testcase_type, testcase_signature, data_hash,
  // fields outside every list
  seq_num, result_rollup,
  unknown,
};

inline constexpr int kFieldCount = static_cast<int>(FieldId::unknown);
static_assert(kFieldCount <= 64, "field sets are kept in 64-bit masks");

constexpr int index_of(FieldId f) noexcept { return static_cast<int>(f); }
constexpr std::uint64_t bit_of(FieldId f) noexcept { return std::uint64_t{1} << index_of(f); }

// The names, in FieldId order.
inline constexpr std::array<std::string_view, kFieldCount> kFieldNames = {
    "type", "id", "fullid", "idlist", "name", "starttime", "stoptime", "runtime", "details",
    "extra", "job_type", "suite_name", "cli", "jobfile", "jobfile_hash", "xref", "morvipath",
    "morviversion", "host", "submitter", "user", "archivefile", "summary", "pluginsummary",
    "result", "totaltasks", "tasks", "health_result", "health_summary", "source_id",
    "script_type", "description", "logfile", "testscript", "testscript_hash", "datafile",
    "datafile_hash", "parameters", "sections", "logs", "lumo_uid", "testcase_type",
    "testcase_signature", "data_hash", "seq_num", "result_rollup",
};

// The field named `name`, FieldId::unknown when no kind knows it.
FieldId field_id(std::string_view name) noexcept;
std::string_view field_name(FieldId field) noexcept;

}  // namespace morvi::reporter::trialkit
