// The field lists of the node kinds and the slot layout derived from them, computed at
// compile time.
#include "node_layout.hpp"

#include "morvi/results.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;
using D = NodeLayout::Default;

constexpr std::string_view kBaseOrder[] = {"type", "id", "fullid", "idlist", "name",
                                           "starttime", "stoptime", "runtime", "details",
                                           "extra"};

constexpr std::string_view kTrialKitOrder[] = {
    "job_type", "suite_name", "type", "id", "fullid", "idlist", "name", "starttime",
    "stoptime", "runtime", "cli", "jobfile", "jobfile_hash", "xref", "morvipath",
    "morviversion", "host", "submitter", "user", "archivefile", "summary", "pluginsummary",
    "result", "details", "extra", "totaltasks", "tasks", "health_result", "health_summary",
    "source_id"};

constexpr std::string_view kTaskOrder[] = {
    "type", "id", "fullid", "idlist", "name", "script_type", "starttime", "stoptime",
    "runtime", "description", "logfile", "testscript", "testscript_hash", "datafile",
    "datafile_hash", "xref", "parameters", "summary", "pluginsummary", "result", "details",
    "extra", "sections", "health_result", "health_summary"};

constexpr std::string_view kPluginOrder[] = {
    "type", "id", "fullid", "idlist", "name", "starttime", "stoptime", "runtime",
    "description", "logfile", "logs", "summary", "result", "details", "extra", "sections",
    "health_result"};

constexpr std::string_view kSectionOrder[] = {
    "type", "id", "fullid", "idlist", "lumo_uid", "name", "testcase_type",
    "testcase_signature", "data_hash", "starttime", "stoptime", "runtime", "description",
    "xref", "logs", "parameters", "result", "details", "extra", "sections", "health_result",
    "health_summary"};

// Most results are Passed and most roll-up flags true: a slot holds these without room.
const Value kPassed{results::TestResult(results::ResultCode::passed)};
const Value kTrue{true};

constexpr const Value* constant_for(F field) {
  if (field == F::result || field == F::health_result) return &kPassed;
  if (field == F::result_rollup) return &kTrue;
  return nullptr;
}

constexpr FieldId named(std::string_view name) {
  for (int i = 0; i < kFieldCount; ++i)
    if (kFieldNames[static_cast<std::size_t>(i)] == name) return static_cast<FieldId>(i);
  return FieldId::unknown;
}

// Slots follow the list, skipping the fields computed on read, then seq_num, result_rollup
// and the kind's other hidden fields.
constexpr NodeLayout make_layout(NodeKind kind, std::span<const std::string_view> order,
                                 std::initializer_list<F> derived,
                                 std::initializer_list<F> hidden,
                                 std::initializer_list<std::pair<F, D>> constructed,
                                 F children) {
  NodeLayout l;
  l.kind = kind;
  l.arg_order = order;
  l.slot_of.fill(-1);
  int next = 0;
  auto add_slot = [&](F f) {
    l.constants[static_cast<std::size_t>(next)] = constant_for(f);
    l.slot_of[static_cast<std::size_t>(index_of(f))] = static_cast<std::int8_t>(next++);
  };
  for (std::string_view name : order) {
    const F f = named(name);
    l.listed |= bit_of(f);
    bool computed = false;
    for (F d : derived) computed = computed || d == f;
    if (!computed) add_slot(f);
  }
  add_slot(F::seq_num);
  add_slot(F::result_rollup);
  for (F f : hidden) add_slot(f);
  const std::pair<F, D> common[] = {
      {F::type, D::class_name},  {F::id, D::none},           {F::seq_num, D::none},
      {F::name, D::same_as_id},  {F::starttime, D::none},    {F::stoptime, D::none},
      {F::runtime, D::none},     {F::result_rollup, D::none}, {F::details, D::empty_list},
      {F::extra, D::empty_map}};
  auto construct = [&](const std::pair<F, D>& field) {
    const int slot = l.slot(field.first);
    l.constructed |= 1u << slot;
    l.defaults[static_cast<std::size_t>(slot)] = field.second;
  };
  for (const auto& field : common) construct(field);
  for (const auto& field : constructed) construct(field);
  l.children_slot = l.slot(children);
  if (next > NodeLayout::kMaxSlots) throw "too many fields for the slot masks";
  return l;
}

}  // namespace

constexpr std::array<NodeLayout, 5> kNodeLayouts = {
    make_layout(NodeKind::Base, kBaseOrder, {F::fullid, F::idlist}, {}, {}, F::unknown),
    make_layout(NodeKind::TrialKit, kTrialKitOrder, {F::fullid, F::idlist, F::result}, {},
                {{F::summary, D::fresh_tally},
                 {F::pluginsummary, D::fresh_tally},
                 {F::health_result, D::none},
                 {F::health_summary, D::fresh_tally},
                 {F::totaltasks, D::none},
                 {F::tasks, D::empty_list}},
                F::tasks),
    make_layout(NodeKind::Task, kTaskOrder, {F::fullid, F::idlist, F::result}, {},
                {{F::logfile, D::none},
                 {F::summary, D::fresh_tally},
                 {F::pluginsummary, D::fresh_tally},
                 {F::health_result, D::none},
                 {F::health_summary, D::fresh_tally},
                 {F::sections, D::empty_list}},
                F::sections),
    make_layout(NodeKind::Plugin, kPluginOrder, {F::fullid, F::idlist}, {F::health_summary},
                {{F::sections, D::empty_list},
                 {F::result, D::none},
                 {F::summary, D::none},
                 {F::health_result, D::none},
                 {F::health_summary, D::fresh_tally},
                 {F::logs, D::empty_map}},
                F::sections),
    make_layout(NodeKind::Section, kSectionOrder, {F::fullid, F::idlist}, {F::logfile},
                {{F::result, D::none},
                 {F::health_result, D::none},
                 {F::health_summary, D::fresh_tally},
                 {F::sections, D::empty_list},
                 {F::logfile, D::none},
                 {F::logs, D::empty_map}},
                F::sections),
};

const Value& class_name(NodeKind kind) noexcept {
  static const Value names[] = {Value("ReportObjectBase"), Value("TrialKit"), Value("Task"),
                                Value("Plugin"), Value("Section")};
  return names[static_cast<std::size_t>(kind)];
}

}  // namespace morvi::reporter::trialkit
