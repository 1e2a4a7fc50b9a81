// Log-file bookkeeping of plugins, sections and tasks: which log a node wrote to and which
// share of that growing file is its own ("file", "begin" at start, "size" at stop).
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "morvi/utils/utils.hpp"
#include "node_layout.hpp"

namespace morvi::reporter::trialkit {
namespace {

using F = FieldId;

// The last path component, as the operating system's base name gives it ("" after a slash).
Value base_name(const Value& path) {
  const std::string_view text = path.as_text();
  const auto slash = text.rfind('/');
  return Value(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

// The file's size in bytes; nothing when it cannot be told (a missing or unreadable file),
// which the callers record as 0 or -1 instead of failing.
std::optional<std::int64_t> file_size(const Value& path) {
  return utils::file_size(std::string(path.as_text()));
}

// Records where the node's share of `path` begins.
void open_share(Map& logs, const Value& path) {
  logs.set("file", base_name(path));
  logs.set("begin", Value(file_size(path).value_or(0)));
}

// Records how far the file grew since the share began; -1 when its size cannot be read.
void close_share(Map& logs, const Value& path) {
  const std::optional<std::int64_t> size = file_size(path);
  logs.set("size", Value(size ? *size - logs.at("begin").as_int() : std::int64_t{-1}));
}

}  // namespace

void Task::stop(Options options) {
  base_stop(options);
  const Value* logfile = find(F::logfile);
  if (logfile != nullptr && logfile->truthy()) store(F::logfile, base_name(*logfile));
}

void Plugin::start(Options options) {
  base_start(options);
  const ReportObjectBase* owner = parent();
  if (owner != nullptr && owner->node_kind() == NodeKind::TrialKit)
    store(F::summary, Value(results::ResultCounter{}));
  // Only a plugin inside a task keeps a share of its log.
  const Value* logfile = find(F::logfile);
  if (logfile != nullptr && logfile->truthy() && owner != nullptr &&
      owner->node_kind() == NodeKind::Task) {
    const Value path = *logfile;
    open_share(slot(F::logs).as_map(), path);
  }
}

void Plugin::stop(Options options) {
  const Value new_log = options.take("logfile").value_or(Value());
  base_stop(options);
  const Value* logfile = find(F::logfile);
  if (logfile != nullptr && logfile->truthy()) {
    const Value path = *logfile;
    const bool has_share = find(F::logs)->truthy();
    if (new_log.truthy() && !(new_log == path)) {
      // The plugin ended in another log: its share of the first one is unknown.
      const Value name = base_name(new_log);
      if (has_share) store(F::logs, Value(Map{{"file", name}, {"begin", 0}, {"size", -1}}));
      store(F::logfile, name);
    } else {
      if (has_share) close_share(slot(F::logs).as_map(), path);
      store(F::logfile, base_name(path));
    }
  }
  if (find(F::result)->is_none()) store(F::result, Value(results::Passed));
}

void Section::start(Options options) {
  // Taken before the start time, and never through update: `logfile` is not a listed field.
  const Value logfile = options.take("logfile").value_or(Value());
  store(F::logfile, logfile);
  base_start(options);
  if (logfile.truthy()) open_share(slot(F::logs).as_map(), logfile);
}

void Section::stop(Options options) {
  base_stop(options);
  const Value logfile = *find(F::logfile);
  if (logfile.truthy() && find(F::logs)->truthy()) close_share(slot(F::logs).as_map(), logfile);
}

}  // namespace morvi::reporter::trialkit
