#pragma once
// The report object model: the tree of report nodes the runner builds while a job runs, its
// lifecycle (start, update, stop), result roll-up, and its record, JSON and YAML forms.
//
// Nodes are heap objects owned through std::shared_ptr: a parent's child list (a list Value of
// node Values) owns its children, and a child's parent pointer is a plain back pointer. The
// root is made by TrialKit::create; every other node by its parent's adding operations.
//
// Fields are read and written by name through field() and set_field(); the kinds override
// the reading and writing of their derived fields (fullid, idlist, result). Every writer reads
// fields this way, in the kind's ARG_ORDER.
//
// References handed out by the typed reads and by a borrowed FieldRef stay valid until the
// node is next changed (a field that still holds its construction default is shared until the
// node first writes it).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "morvi/errors.hpp"
#include "morvi/reporter/trialkit/field_store.hpp"
#include "morvi/results.hpp"
#include "morvi/value.hpp"

#pragma GCC visibility push(default)
namespace morvi::reporter::trialkit {

inline constexpr std::string_view VERSION = "3.4";
// none, an empty list, an empty map: field values the JSON and YAML forms leave out.
const List& VALUE_IGNORE();
inline constexpr int FLOAT_PRECISION = 2;
inline constexpr std::string_view YAML_MAP = "tag:yaml.org,2002:map";
inline constexpr std::string_view YAML_STR = "tag:yaml.org,2002:str";
inline constexpr std::string_view YAML_FLT = "tag:yaml.org,2002:float";

// True when `v` equals one of the VALUE_IGNORE values: none, an empty list or an empty map (an
// empty attr map is a map; an empty tuple is not a list), without building the three values.
inline bool is_ignored(const Value& v) {
  if (v.is_none()) return true;
  if (v.is_list()) return v.as_list().empty();
  if (v.is_map()) return v.as_map().empty();
  return false;
}

// Options given by name to start and stop.
using Options = Map;

enum class NodeKind : std::uint8_t { Base, TrialKit, Task, Plugin, Section };

class ReportObjectBase;
class TrialKit;
// Every field name a node kind knows, as a small number, and how a kind keeps its fields
// (both defined with the node sources).
enum class FieldId : std::uint8_t;
struct NodeLayout;
class Task;
class Plugin;
class Section;

// One field read: absent, borrowed from the node's storage, or computed for this read.
class FieldRef {
 public:
  FieldRef() = default;
  static FieldRef borrowed(const Value& v) {
    FieldRef r;
    r.state_ = State::Borrowed;
    r.ptr_ = &v;
    return r;
  }
  static FieldRef computed(Value v) {
    FieldRef r;
    r.state_ = State::Computed;
    r.owned_ = std::move(v);
    return r;
  }
  bool exists() const noexcept { return state_ != State::Absent; }
  explicit operator bool() const noexcept { return exists(); }
  // The value, or none when the field is absent.
  const Value& operator*() const noexcept {
    return state_ == State::Borrowed ? *ptr_ : owned_;
  }
  const Value* operator->() const noexcept { return &**this; }

 private:
  enum class State : std::uint8_t { Absent, Borrowed, Computed };
  State state_ = State::Absent;
  const Value* ptr_ = nullptr;
  Value owned_;
};

// The node stored in a node Value (Value::node).
ReportObjectBase& node_of(const Value& v);

class ReportObjectBase : public Object, private FieldStore {
 public:
  // A free-standing base node (the runner uses the four kinds; this serves tests and tools).
  static std::shared_ptr<ReportObjectBase> create(Value id, Value seq_num,
                                                  ReportObjectBase* parent = nullptr,
                                                  Value type = {});
  ~ReportObjectBase() override;
  ReportObjectBase(const ReportObjectBase&) = delete;
  ReportObjectBase& operator=(const ReportObjectBase&) = delete;

  NodeKind node_kind() const noexcept { return kind_; }
  // "ReportObjectBase", "TrialKit", "Task", "Plugin" or "Section".
  std::string type_name() const override;
  std::string repr() const override;
  bool is_report_node() const noexcept final { return true; }

  // The kind's field names in output order; update stores only these as fields.
  std::span<const std::string_view> arg_order() const noexcept;
  // The field at `position` of arg_order(), read without looking its name up.
  FieldRef listed_field(std::size_t position) const;
  // For the library's writers, which walk every field of every node (inline, in
  // node_layout.hpp): whether the field at `position` is computed on read (fullid, idlist, a
  // task's result), which listed_field does; else its stored value, nullptr when absent.
  bool listed_derived(std::size_t position) const noexcept;
  const Value* listed_stored(std::size_t position) const noexcept;

  // --- fields by name ---------------------------------------------------------------------
  // Any field: those of ARG_ORDER, the derived ones (fullid, idlist, a task's or trialkit's
  // result) and the fields outside the list (seq_num, result_rollup, a section's logfile, a
  // plugin's health_summary). Absent when the kind has no such field or it was never given.
  FieldRef field(std::string_view name) const;
  // The field's value, none when absent.
  Value field_or_none(std::string_view name) const { return *field(name); }
  bool has_field(std::string_view name) const { return field(name).exists(); }
  // Sets a field, creating it. A task's `result` goes to its explicit result; children that a
  // new child list leaves out no longer name this node as their parent, those it brings in
  // name this node. ArgumentError for a derived field that cannot be assigned (fullid,
  // idlist, a trialkit's result), a name the kind cannot store, a child list holding anything
  // but report nodes that may join it (see update), or a value holding a node that holds this
  // node (a cycle); TypeError for `details` or a child list that is not a list, or an `extra`
  // that is not a map.
  void set_field(std::string_view name, Value value);

  // --- lifecycle --------------------------------------------------------------------------
  virtual void start(Options options = {});
  virtual void stop(Options options = {});
  // A node hangs in one child list at most: extending a child list with a node that already
  // hangs in one, that names another parent, that comes twice, or that holds this node (is
  // this node or one of its ancestors, or holds one in a field) is an ArgumentError naming
  // it. So is any value holding a node that holds this node, in any field or in `extra`: the
  // tree never holds itself. The node is unchanged after such a refusal. A node that joins a
  // child list names this node as its parent.
  void update(const Map& data);
  void update(Map&& data);
  // TypeError when `data` is not a map.
  void update(const Value& data);
  void update_extra(const Map& data, bool list_extend = true);
  void add_detail(Value detail);
  virtual void roll_up();

  // --- identity and place in the tree -----------------------------------------------------
  const Value& id() const noexcept;
  const Value& seq_num() const noexcept;
  ReportObjectBase* parent() const noexcept { return parent_; }
  Value fullid() const;
  List idlist() const;

  // --- typed reads of common fields (none when absent) ------------------------------------
  const Value& type() const noexcept;
  const Value& starttime() const noexcept;
  const Value& stoptime() const noexcept;
  const Value& runtime() const noexcept;
  const Value& result_rollup() const noexcept;
  const List& details() const;
  const Map& extra() const;
  // The child list: `tasks` of a trialkit, `sections` of the other kinds, empty for a base
  // node.
  const List& children() const;

  // --- outside forms ----------------------------------------------------------------------
  // The flat record: ARG_ORDER fields (children by id), then seq_num and logfile.
  Map to_dict() const;
  // The results document {"version": "3.4", "report": this node} as JSON and as YAML.
  std::string dump_json() const;
  std::string dump_yaml() const;

 protected:
  ReportObjectBase(NodeKind kind, Value id, Value seq_num, ReportObjectBase* parent, Value type);

  // Reading and writing one field; the kinds override them for their derived fields.
  virtual FieldRef read(FieldId field) const;
  virtual void assign(FieldId field, Value value);
  // The field's value (stored or the construction default), nullptr when absent.
  const Value* find(FieldId field) const noexcept;
  // The field's own stored value, created as none when absent; ArgumentError when the kind has
  // no such field. Valid until the next field of this node is created.
  Value& slot(FieldId field);
  // Sets a field the kind stores, creating it.
  void store(FieldId field, Value value);
  // ArgumentError, naming the nodes, when `value` holds a node from which this node can be
  // reached through child lists and field values: storing it in `field` would make a cycle.
  void check_no_cycle(std::string_view field, const Value& value) const;
  // The base steps of start and stop, for kinds that wrap them.
  void base_start(Options& options);
  void base_stop(Options& options);
  // Makes a new child and appends it to the child list (`tasks` or `sections`). ArgumentError
  // when one of the values holds this node (a cycle); nothing is made then.
  template <class Child>
  std::shared_ptr<Child> adopt(Value id, Value seq_num, Value type);

 private:
  const NodeLayout& layout() const noexcept;
  FieldStore& fields() noexcept { return *this; }
  const FieldStore& fields() const noexcept { return *this; }
  // One key of update that the kind lists: appended to a list field, else assigned.
  void update_field(FieldId field, Value&& value);
  void append_to_list(int slot, Value&& value);
  // Folds this section's result and health into `parent`; false when it has no result.
  bool fold_into(ReportObjectBase& parent);
  // Moves the children out (for the iterative teardown), clearing their back pointers.
  void release_children(List& out) noexcept;
  // ArgumentError unless each of `children` may join this node's child list `list_name`; the
  // nodes already in that list may stay when `replacing` it.
  void check_joining(std::string_view list_name, std::span<const Value> children,
                     bool replacing) const;
  // Makes this node the parent of `child`, which has joined its child list.
  void join(const Value& child) noexcept;

  // Fields live in the store's slots: one per stored ARG_ORDER entry, then the hidden fields.
  NodeKind kind_;
  bool in_list_ = false;  // hangs in its parent's child list
  ReportObjectBase* parent_;
};

class TrialKit : public ReportObjectBase {
 public:
  static std::shared_ptr<TrialKit> create(Value id, Value seq_num, Value type = {});

  // The `tasks` list itself, plugins included.
  const List& testscripts() const { return children(); }
  // Derived from the children on every read; none when no child has a result.
  Value result() const;

  void stop(Options options = {}) override;
  void roll_up() override;
  std::shared_ptr<Plugin> add_plugin(Value id, Value seq_num, Value type = {});
  std::shared_ptr<Task> add_task(Value id, Value seq_num, Value type = {});

  explicit TrialKit(Value id, Value seq_num, Value type);

 protected:
  FieldRef read(FieldId field) const override;
  void assign(FieldId field, Value value) override;
};

class Task : public ReportObjectBase {
 public:
  // The explicit result when one was ever assigned, else derived from the children.
  Value result() const;
  // Stores the explicit result (none included); from then on it is returned as is.
  void set_result(Value result);

  void stop(Options options = {}) override;
  void roll_up() override;
  std::shared_ptr<Plugin> add_plugin(Value id, Value seq_num, Value type = {});
  std::shared_ptr<Section> add_section(Value id, Value seq_num, Value type = {});

  Task(Value id, Value seq_num, ReportObjectBase* parent, Value type);

 protected:
  FieldRef read(FieldId field) const override;
  void assign(FieldId field, Value value) override;

 private:
  // The cycle check walks the explicit result with the fields.
  friend class ReportObjectBase;
  bool has_explicit_result_ = false;
  Value explicit_result_;
};

class Plugin : public ReportObjectBase {
 public:
  void start(Options options = {}) override;
  void stop(Options options = {}) override;
  void roll_up() override;
  std::shared_ptr<Section> add_section(Value id, Value seq_num, Value type = {});

  Plugin(Value id, Value seq_num, ReportObjectBase* parent, Value type);
};

class Section : public ReportObjectBase {
 public:
  void start(Options options = {}) override;
  void stop(Options options = {}) override;
  std::shared_ptr<Section> add_section(Value id, Value seq_num, Value type = {});

  Section(Value id, Value seq_num, ReportObjectBase* parent, Value type);
};

// Wraps a finished report with the format version.
class ReportHeader {
 public:
  explicit ReportHeader(Value report);
  // {"version": "3.4", "report": report}; the same map on every call.
  const Map& as_dict() const noexcept { return data_; }

 private:
  Map data_;
};

}  // namespace morvi::reporter::trialkit
#pragma GCC visibility pop
