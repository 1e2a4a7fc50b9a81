#pragma once
// Every field a node kind knows, in one table: its number, its name, what it holds when a kind
// creates it with the node, and the shared constant that a slot may hold without room. Node
// storage and the lifecycle steps work with the numbers, so that they never compare names
// more than once per call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "morvi/reporter/trialkit.hpp"

namespace morvi::reporter::trialkit {

enum class FieldId : std::uint8_t {
  // fields listed by some kind
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

// What a field holds from the node's construction until first written, when its kind creates
// it with the node. Shared values stand in for these, so a fresh node allocates nothing.
enum class FieldDefault : std::uint8_t {
  none, class_name, same_as_id, empty_list, empty_map, fresh_tally
};

// The common value a field may hold without room: most results are Passed, most roll-up
// flags true.
enum class FieldConstant : std::uint8_t { nothing, passed, yes };

struct FieldEntry {
  FieldId id;
  std::string_view name;
  FieldDefault initial = FieldDefault::none;
  FieldConstant constant = FieldConstant::nothing;
};

// One entry per FieldId, in FieldId order.
inline constexpr std::array<FieldEntry, kFieldCount> kFields = [] {
  using F = FieldId;
  using D = FieldDefault;
  using C = FieldConstant;
  return std::array<FieldEntry, kFieldCount>{{
      {F::type, "type", D::class_name},
      {F::id, "id"},
      {F::fullid, "fullid"},
      {F::idlist, "idlist"},
      {F::name, "name", D::same_as_id},
      {F::starttime, "starttime"},
      {F::stoptime, "stoptime"},
      {F::runtime, "runtime"},
      {F::details, "details", D::empty_list},
      {F::extra, "extra", D::empty_map},
      {F::job_type, "job_type"},
      {F::suite_name, "suite_name"},
      {F::cli, "cli"},
      {F::jobfile, "jobfile"},
      {F::jobfile_hash, "jobfile_hash"},
      {F::xref, "xref"},
      {F::morvipath, "morvipath"},
      {F::morviversion, "morviversion"},
      {F::host, "host"},
      {F::submitter, "submitter"},
      {F::user, "user"},
      {F::archivefile, "archivefile"},
      {F::summary, "summary", D::fresh_tally},
      {F::pluginsummary, "pluginsummary", D::fresh_tally},
      {F::result, "result", D::none, C::passed},
      {F::totaltasks, "totaltasks"},
      {F::tasks, "tasks", D::empty_list},
      {F::health_result, "health_result", D::none, C::passed},
      {F::health_summary, "health_summary", D::fresh_tally},
      {F::source_id, "source_id"},
      {F::script_type, "script_type"},
      {F::description, "description"},
      {F::logfile, "logfile"},
      {F::testscript, "testscript"},
      {F::testscript_hash, "testscript_hash"},
      {F::datafile, "datafile"},
      {F::datafile_hash, "datafile_hash"},
      {F::parameters, "parameters"},
      {F::sections, "sections", D::empty_list},
      {F::logs, "logs", D::empty_map},
      {F::lumo_uid, "lumo_uid"},
      {F::testcase_type, "testcase_type"},
      {F::testcase_signature, "testcase_signature"},
      {F::data_hash, "data_hash"},
      {F::seq_num, "seq_num"},
      {F::result_rollup, "result_rollup", D::none, C::yes},
  }};
}();

constexpr const FieldEntry& entry_of(FieldId f) noexcept {
  return kFields[static_cast<std::size_t>(index_of(f))];
}

static_assert(
    [] {
      for (int i = 0; i < kFieldCount; ++i)
        if (index_of(kFields[static_cast<std::size_t>(i)].id) != i ||
            kFields[static_cast<std::size_t>(i)].name.empty())
          return false;
      return true;
    }(),
    "every FieldId has its entry, in FieldId order");
static_assert(
    [] {
      for (std::size_t i = 0; i < kFields.size(); ++i)
        for (std::size_t j = i + 1; j < kFields.size(); ++j)
          if (kFields[i].name == kFields[j].name) return false;
      return true;
    }(),
    "field names are unique");

// The field named `name`, FieldId::unknown when no kind knows it.
FieldId field_id(std::string_view name) noexcept;
std::string_view field_name(FieldId field) noexcept;

}  // namespace morvi::reporter::trialkit
