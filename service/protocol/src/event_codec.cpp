#include <array>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "morvi/service/protocol/event.hpp"
#include "morvi/service/protocol/operation.hpp"
#include "morvi/service/protocol/value_codec.hpp"
#include "event_args.hpp"
#include "text_reader.hpp"
#include "text_writer.hpp"

namespace morvi::service::protocol {
namespace {

using json = Json;

constexpr std::array<std::string_view, 11> kNames = {
    "create_trialkit", "add_task",     "add_plugin", "add_section", "start",  "stop",
    "update",          "update_extra", "add_detail", "set_result",  "roll_up"};

[[noreturn]] void refuse(std::string_view event, const std::string& reason) {
  throw ProtocolError(event.empty() ? "event refused: " + reason
                                    : "event '" + std::string(event) + "' refused: " + reason);
}

Handle handle(const json& j, const char* key, std::string_view event) {
  const auto it = j.find(key);
  if (it == j.end()) refuse(event, std::string("missing '") + key + "'");
  if (!it->is_number_unsigned() && !(it->is_number_integer() && it->get<std::int64_t>() >= 0))
    refuse(event, std::string("'") + key + "' must be a whole number of 0 or more");
  return it->get<Handle>();
}

void check_args(const Event& event, std::string_view name) {
  const std::span<const Arg> expected = expected_args(event.kind);
  // Each expected argument's value (a kind expects three at most), found in one pass over
  // the args.
  const Value* found[3] = {nullptr, nullptr, nullptr};
  for (const auto& [key, value] : event.args) {
    std::size_t i = 0;
    while (i < expected.size() && expected[i].key != key) ++i;
    if (i == expected.size()) refuse(name, "unknown argument '" + key + "'");
    found[i] = &value;
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Arg& arg = expected[i];
    const Value* value = found[i];
    if (value == nullptr) {
      if (arg.required) refuse(name, "missing argument '" + std::string(arg.key) + "'");
      continue;
    }
    if (arg.need == Need::map && !value->is_map())
      refuse(name, "argument '" + std::string(arg.key) + "' must be a map, got " +
                       value->kind_name());
    if (arg.need == Need::boolean && !value->is_bool())
      refuse(name, "argument '" + std::string(arg.key) + "' must be a bool, got " +
                       value->kind_name());
  }
  if (expected.data() != kLifecycleArgs) return;
  if (const Value* time = found[1]; time != nullptr && !time->is_datetime())
    refuse(name, std::string("argument 'time' must be a date-time, got ") + time->kind_name());
  if (const Value* sizes = found[2]; sizes != nullptr) {
    for (const auto& [path, size] : sizes->as_map())
      if (!size.is_int() && !size.is_none())
        refuse(name, "the size of '" + path + "' must be an integer or none");
  }
}

}  // namespace

std::string_view event_name(EventKind kind) noexcept {
  return kNames[static_cast<std::size_t>(kind)];
}

std::optional<EventKind> event_kind(std::string_view name) noexcept {
  // The length and the last byte tell most names apart before their bytes are compared.
  for (std::size_t i = 0; i < kNames.size(); ++i)
    if (kNames[i].size() == name.size() && kNames[i].back() == name.back() && kNames[i] == name)
      return static_cast<EventKind>(i);
  return std::nullopt;
}

bool creates_node(EventKind kind) noexcept {
  return kind == EventKind::create_trialkit || kind == EventKind::add_task ||
         kind == EventKind::add_plugin || kind == EventKind::add_section;
}

namespace {

// What each kind's line starts with, in the order of kNames, spelled out whole: one copy
// per event line rather than three.
constexpr std::array<std::string_view, 11> kHeads = {
    R"({"event":"create_trialkit","node":)", R"({"event":"add_task","node":)",
    R"({"event":"add_plugin","node":)",      R"({"event":"add_section","node":)",
    R"({"event":"start","node":)",           R"({"event":"stop","node":)",
    R"({"event":"update","node":)",          R"({"event":"update_extra","node":)",
    R"({"event":"add_detail","node":)",      R"({"event":"set_result","node":)",
    R"({"event":"roll_up","node":)"};

// The compiler holds each head to its kind's name.
constexpr bool heads_follow_names() {
  constexpr std::string_view before = R"({"event":")", after = R"(","node":)";
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    const std::string_view head = kHeads[i];
    if (head.size() != before.size() + kNames[i].size() + after.size() ||
        head.substr(0, before.size()) != before ||
        head.substr(before.size(), kNames[i].size()) != kNames[i] ||
        head.substr(before.size() + kNames[i].size()) != after)
      return false;
  }
  return true;
}
static_assert(kHeads.size() == kNames.size() && heads_follow_names());

// `{"event":"<kind>","node":N[,"child":N],"args":`
void write_head(TextWriter& line, EventKind kind, Handle node, Handle child) {
  line.raw(kHeads[static_cast<std::size_t>(kind)]);
  line.whole(node);
  if (creates_node(kind)) {
    line.raw(",\"child\":");
    line.whole(child);
  }
  line.raw(",\"args\":");
}

// Runs `write` on a writer at the end of `out`, which is left as it was when `write` throws.
template <class Out, class Write>
void append_line(Out& out, Write&& write) {
  const std::size_t start = out.size();
  try {
    TextWriter line(out);
    write(line);
  } catch (...) {
    if constexpr (std::is_same_v<Out, LineBuffer>) out.truncate(start);
    else out.resize(start);
    throw;
  }
}

void write_event(TextWriter& line, const Event& event) {
  write_head(line, event.kind, event.node, event.child);
  line.map(event.args, 0);
  line.put('}');
}

void write_event(TextWriter& line, const EventDraft& draft) {
  write_head(line, draft.kind, draft.node, draft.child);
  // As the args map: its values one level down.
  line.put('{');
  for (std::size_t i = 0; i < draft.size; ++i) {
    const EventDraft::Arg& arg = draft.args[i];
    if (i > 0) line.put(',');
    line.text(arg.key);
    line.put(':');
    if (arg.map != nullptr) line.map(*arg.map, 1);
    else line.value(*arg.value, 1);
  }
  line.raw("}}");
}

}  // namespace

void append_event(std::string& out, const Event& event) {
  append_line(out, [&](TextWriter& line) { write_event(line, event); });
}

void append_event(std::string& out, const EventDraft& draft) {
  append_line(out, [&](TextWriter& line) { write_event(line, draft); });
}

void append_event(LineBuffer& out, const Event& event) {
  append_line(out, [&](TextWriter& line) { write_event(line, event); });
}

void append_event(LineBuffer& out, const EventDraft& draft) {
  append_line(out, [&](TextWriter& line) { write_event(line, draft); });
}

Event EventDraft::event() const {
  Event out{kind, node, child, {}};
  out.args.reserve(size);
  for (std::size_t i = 0; i < size; ++i)
    out.args.set(args[i].key, args[i].map != nullptr ? Value(*args[i].map) : *args[i].value);
  return out;
}

std::string encode_event(const Event& event) {
  std::string line;
  append_event(line, event);
  return line;
}

Event decode_event(std::string_view line) {
  if (line.size() > kMaxFrameSize)
    refuse("", "a frame of " + std::to_string(line.size()) + " bytes is over the limit of " +
                   std::to_string(kMaxFrameSize) + " bytes");
  // Read through a JSON tree, which takes what JSON allows and says where and why it refuses
  // the rest. Nesting is counted before parsing, so a deep frame is refused by its depth.
  int depth = 0;
  bool in_text = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_text) {
      if (c == '\\') ++i;
      else if (c == '"') in_text = false;
    } else if (c == '"') {
      in_text = true;
    } else if (c == '[' || c == '{') {
      // The frame itself and the args map take two levels above the values.
      if (++depth > 2 * kMaxDepth + 4)
        refuse("", "nested deeper than the limit at byte " + std::to_string(i));
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  json frame;
  try {
    frame = json::parse(line);
  } catch (const json::parse_error& e) {
    const std::string what = e.what();
    const bool utf8 = what.find("UTF-8") != std::string::npos;
    refuse("", std::string(utf8 ? "invalid UTF-8" : "not JSON") + " at byte " +
                   std::to_string(e.byte) + " (" + what + ")");
  } catch (const json::out_of_range& e) {
    refuse("", std::string("a number out of range (") + e.what() + ")");
  }
  if (!frame.is_object()) refuse("", "a frame must be a JSON object");
  const auto name_it = frame.find("event");
  if (name_it == frame.end() || !name_it->is_string()) refuse("", "missing the event name");
  const std::string& name = name_it->get_ref<const std::string&>();
  const std::optional<EventKind> kind = event_kind(name);
  if (!kind) refuse(name, "unknown event");
  for (const auto& [key, value] : frame.items())
    if (key != "event" && key != "node" && key != "args" &&
        !(key == "child" && creates_node(*kind)))
      refuse(name, "unknown member '" + key + "'");
  Event event{*kind, handle(frame, "node", name), 0, {}};
  if (creates_node(*kind)) event.child = handle(frame, "child", name);
  const auto args = frame.find("args");
  if (args == frame.end()) refuse(name, "missing 'args'");
  try {
    event.args = decode_map(*args);
  } catch (const ProtocolError& e) {
    refuse(name, std::string("args: ") + e.what());
  }
  check_args(event, name);
  return event;
}

Operation operation_of(Event&& event) {
  check_args(event, event_name(event.kind));
  Operation out;
  out.kind = event.kind;
  out.node = event.node;
  out.child = event.child;
  for (auto& [key, value] : event.args) {
    if (key == "id") out.id = std::move(value);
    else if (key == "seq_num") out.seq_num = std::move(value);
    else if (key == "type") out.type = std::move(value);
    else if (key == "options" || key == "data") out.map = std::move(value.as_map());
    else if (key == "time") out.time = value.as_datetime();
    else if (key == "file_sizes") out.file_sizes = std::move(value.as_map());
    else if (key == "list_extend") out.list_extend = value.as_bool();
    else out.value = std::move(value);  // detail or result
  }
  return out;
}

Operation decode_operation(std::string_view line) {
  if (line.size() <= kMaxFrameSize) {
    Operation out;
    if (read_operation_text(line, out)) return out;
  }
  // Not in the encoder's own shape, or to be refused: the JSON path reads it or says why not.
  return operation_of(decode_event(line));
}

}  // namespace morvi::service::protocol
