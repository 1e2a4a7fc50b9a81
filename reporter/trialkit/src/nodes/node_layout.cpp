// The field lists of the node kinds and the slot layout derived from them, computed at
// compile time.
#include "node_layout.hpp"

#include "morvi/results.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;

template <std::size_t N>
constexpr std::array<std::string_view, N> names_of(const FieldId (&order)[N]) {
  std::array<std::string_view, N> names{};
  for (std::size_t i = 0; i < N; ++i) names[i] = entry_of(order[i]).name;
  return names;
}

constexpr F kBaseOrder[] = {F::type,      F::id,       F::fullid,  F::idlist,  F::name,
                            F::starttime, F::stoptime, F::runtime, F::details, F::extra};

constexpr F kTrialKitOrder[] = {
    F::job_type,    F::suite_name,     F::type,          F::id,           F::fullid,
    F::idlist,      F::name,           F::starttime,     F::stoptime,     F::runtime,
    F::cli,         F::jobfile,        F::jobfile_hash,  F::xref,         F::morvipath,
    F::morviversion, F::host,          F::submitter,     F::user,         F::archivefile,
    F::summary,     F::pluginsummary,  F::result,        F::details,      F::extra,
    F::totaltasks,  F::tasks,          F::health_result, F::health_summary, F::source_id};

constexpr F kTaskOrder[] = {
    F::type,          F::id,          F::fullid,       F::idlist,          F::name,
    F::script_type,   F::starttime,   F::stoptime,     F::runtime,         F::description,
    F::logfile,       F::testscript,  F::testscript_hash, F::datafile,     F::datafile_hash,
    F::xref,          F::parameters,  F::summary,      F::pluginsummary,   F::result,
    F::details,       F::extra,       F::sections,     F::health_result,   F::health_summary};

constexpr F kPluginOrder[] = {
    F::type,     F::id,      F::fullid,  F::idlist,  F::name,    F::starttime,
    F::stoptime, F::runtime, F::description, F::logfile, F::logs, F::summary,
    F::result,   F::details, F::extra,   F::sections, F::health_result};

constexpr F kSectionOrder[] = {
    F::type,        F::id,        F::fullid,     F::idlist,          F::lumo_uid,
    F::name,        F::testcase_type, F::testcase_signature, F::data_hash, F::starttime,
    F::stoptime,    F::runtime,   F::description, F::xref,           F::logs,
    F::parameters,  F::result,    F::details,    F::extra,           F::sections,
    F::health_result, F::health_summary};

// The writers take the lists as names.
constexpr auto kBaseNames = names_of(kBaseOrder);
constexpr auto kTrialKitNames = names_of(kTrialKitOrder);
constexpr auto kTaskNames = names_of(kTaskOrder);
constexpr auto kPluginNames = names_of(kPluginOrder);
constexpr auto kSectionNames = names_of(kSectionOrder);

const Value kPassed{results::TestResult(results::ResultCode::passed)};
const Value kTrue{true};

constexpr const Value* constant_for(F field) {
  switch (entry_of(field).constant) {
    case FieldConstant::passed: return &kPassed;
    case FieldConstant::yes: return &kTrue;
    case FieldConstant::nothing: break;
  }
  return nullptr;
}

// What the kind's new nodes hold besides the fields every node starts with.
struct KindFields {
  std::span<const F> order = {};
  std::span<const std::string_view> names = {};
  std::initializer_list<F> derived = {};        // computed on read: no slot
  std::initializer_list<F> hidden = {};         // stored but outside the list
  std::initializer_list<F> constructed = {};    // on a new node, holding the table's default
  std::initializer_list<F> starting_none = {};  // on a new node, holding none
  F children = F::unknown;
};

// Slots follow the list, skipping the fields computed on read, then seq_num, result_rollup
// and the kind's other hidden fields.
constexpr NodeLayout make_layout(NodeKind kind, const KindFields& fields) {
  NodeLayout l;
  l.kind = kind;
  l.arg_order = fields.names;
  l.arg_ids = fields.order;
  l.slot_of.fill(-1);
  int next = 0;
  auto add_slot = [&](F f) {
    l.constants[static_cast<std::size_t>(next)] = constant_for(f);
    l.slot_of[static_cast<std::size_t>(index_of(f))] = static_cast<std::int8_t>(next++);
  };
  for (F f : fields.order) {
    l.listed |= bit_of(f);
    bool computed = false;
    for (F d : fields.derived) computed = computed || d == f;
    if (!computed) add_slot(f);
  }
  add_slot(F::seq_num);
  add_slot(F::result_rollup);
  for (F f : fields.hidden) add_slot(f);
  auto construct = [&](F f, FieldDefault initial) {
    const int slot = l.slot(f);
    l.constructed |= 1u << slot;
    l.defaults[static_cast<std::size_t>(slot)] = initial;
  };
  for (F f : {F::type, F::id, F::seq_num, F::name, F::starttime, F::stoptime, F::runtime,
              F::result_rollup, F::details, F::extra})
    construct(f, entry_of(f).initial);
  for (F f : fields.constructed) construct(f, entry_of(f).initial);
  for (F f : fields.starting_none) construct(f, FieldDefault::none);
  l.children_slot = l.slot(fields.children);
  if (next > NodeLayout::kMaxSlots) throw "too many fields for the slot masks";
  return l;
}

}  // namespace

constexpr std::array<NodeLayout, 5> kNodeLayouts = {
    make_layout(NodeKind::Base,
                {.order = kBaseOrder, .names = kBaseNames, .derived = {F::fullid, F::idlist}}),
    make_layout(NodeKind::TrialKit,
                {.order = kTrialKitOrder,
                 .names = kTrialKitNames,
                 .derived = {F::fullid, F::idlist, F::result},
                 .constructed = {F::summary, F::pluginsummary, F::health_result,
                                 F::health_summary, F::totaltasks, F::tasks},
                 .children = F::tasks}),
    make_layout(NodeKind::Task,
                {.order = kTaskOrder,
                 .names = kTaskNames,
                 .derived = {F::fullid, F::idlist, F::result},
                 .constructed = {F::logfile, F::summary, F::pluginsummary, F::health_result,
                                 F::health_summary, F::sections},
                 .children = F::sections}),
    // A plugin's summary stays none until it starts under the trialkit or rolls up.
    make_layout(NodeKind::Plugin,
                {.order = kPluginOrder,
                 .names = kPluginNames,
                 .derived = {F::fullid, F::idlist},
                 .hidden = {F::health_summary},
                 .constructed = {F::sections, F::result, F::health_result, F::health_summary,
                                 F::logs},
                 .starting_none = {F::summary},
                 .children = F::sections}),
    make_layout(NodeKind::Section,
                {.order = kSectionOrder,
                 .names = kSectionNames,
                 .derived = {F::fullid, F::idlist},
                 .hidden = {F::logfile},
                 .constructed = {F::result, F::health_result, F::health_summary, F::sections,
                                 F::logfile, F::logs},
                 .children = F::sections}),
};

const Value& class_name(NodeKind kind) noexcept {
  static const Value names[] = {Value("ReportObjectBase"), Value("TrialKit"), Value("Task"),
                                Value("Plugin"), Value("Section")};
  return names[static_cast<std::size_t>(kind)];
}

}  // namespace morvi::reporter::trialkit
