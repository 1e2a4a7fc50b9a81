// The YAML emitter: node events in, text out, in block style. Every decision (indentation,
// where a key needs "? ", which style a scalar gets, where a long scalar breaks, when the
// document needs an end marker) follows the YAML library's emitter, so that documents read
// and diff the same as the ones it writes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "morvi/utils/utf8.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "scalar_analysis.hpp"

namespace morvi::reporter::trialkit {

using yaml_detail::ScalarAnalysis;

namespace {

constexpr std::string_view kTagPrefix = "tag:yaml.org,2002:";
// A scalar key is written as "key: value" only while its tag and text stay short.
constexpr std::size_t kMaxSimpleKeyLength = 128;

char choose_scalar_style(const ScalarAnalysis& a, ScalarStyle asked, bool implicit_plain,
                         bool simple_key_context) {
  if (asked == ScalarStyle::DoubleQuoted) return '"';
  if (asked == ScalarStyle::Any && implicit_plain &&
      !(simple_key_context && (a.empty || a.multiline)) && a.allow_block_plain)
    return '\0';
  if (asked == ScalarStyle::Literal && !simple_key_context && a.allow_block) return '|';
  if ((asked == ScalarStyle::Any || asked == ScalarStyle::SingleQuoted) && a.allow_single_quoted &&
      !(simple_key_context && a.multiline))
    return '\'';
  return '"';
}

// "!!str" for "tag:yaml.org,2002:str", "!local" for "!local", "!<uri>" otherwise; characters
// outside the URI set are percent-encoded.
std::string prepare_tag(std::string_view tag) {
  std::string handle;
  std::string_view suffix = tag;
  if (tag.starts_with(kTagPrefix) && tag.size() > kTagPrefix.size()) {
    handle = "!!";
    suffix = tag.substr(kTagPrefix.size());
  } else if (tag.starts_with('!')) {
    handle = "!";
    suffix = tag.substr(1);
  }
  if (tag == "!") return std::string(tag);
  std::string out = handle.empty() ? "!<" : handle;
  static constexpr std::string_view kUriChars = "-;/?:@&=+$,_.~*'()[]";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : suffix) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
        kUriChars.find(c) != std::string_view::npos || (c == '!' && handle != "!")) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 0xF]);
    }
  }
  if (handle.empty()) out.push_back('>');
  return out;
}

std::size_t prepared_tag_length(std::string_view tag) {
  return yaml_detail::same_tag(tag, yaml_detail::kStrTag) ? std::string_view("!!str").size() : prepare_tag(tag).size();
}

// The escape of a code point inside double quotes.
std::string_view escape(char32_t ch, char (&buf)[10]) {
  switch (ch) {
    case 0x00: return "\\0";
    case 0x07: return "\\a";
    case 0x08: return "\\b";
    case 0x09: return "\\t";
    case 0x0A: return "\\n";
    case 0x0B: return "\\v";
    case 0x0C: return "\\f";
    case 0x0D: return "\\r";
    case 0x1B: return "\\e";
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case 0x85: return "\\N";
    case 0xA0: return "\\_";
    case 0x2028: return "\\L";
    case 0x2029: return "\\P";
    default: break;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  const int digits = ch <= 0xFF ? 2 : ch <= 0xFFFF ? 4 : 8;
  buf[0] = '\\';
  buf[1] = digits == 2 ? 'x' : digits == 4 ? 'u' : 'U';
  for (int k = 0; k < digits; ++k) buf[2 + k] = kHex[(ch >> ((digits - 1 - k) * 4)) & 0xF];
  return std::string_view(buf, static_cast<std::size_t>(2 + digits));
}

// `a` and `b` hold the same `n` bytes, n at most 24: a few word compares where the pieces
// overlap, instead of a call to memcmp for the few bytes of a key.
bool same_short(const char* a, const char* b, std::size_t n) {
  const auto word = [](const char* p, std::size_t at, auto width) {
    decltype(width) w;
    std::memcpy(&w, p + at, sizeof w);
    return w;
  };
  if (n >= 8) {
    const std::uint64_t w{};
    return word(a, 0, w) == word(b, 0, w) && word(a, n - 8, w) == word(b, n - 8, w) &&
           (n <= 16 || word(a, 8, w) == word(b, 8, w));
  }
  if (n >= 4) {
    const std::uint32_t w{};
    return word(a, 0, w) == word(b, 0, w) && word(a, n - 4, w) == word(b, n - 4, w);
  }
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool needs_escape(char32_t ch) {
  return ch < 0x20 || ch > 0x7E || ch == '"' || ch == '\\';
}

}  // namespace

// --- events -----------------------------------------------------------------------------------

void YAMLEmitter::emit_scalar(std::string_view tag, std::string_view value, ScalarStyle style) {
  const ScalarAnalysis a = yaml_detail::analyze_scalar(value);
  open_pending_block();
  enter_node(&a, tag);
  const bool implicit_plain = yaml_detail::same_tag(yaml_detail::resolve_plain(value), tag);
  const bool implicit_quoted = yaml_detail::same_tag(tag, yaml_detail::kStrTag);
  const char chosen = choose_scalar_style(a, style, implicit_plain, simple_key_context_);
  if (!(chosen == '\0' ? implicit_plain : implicit_quoted)) write_tag(tag);
  const int outer = enter_scalar_indent();
  const bool split = !simple_key_context_;
  switch (chosen) {
    case '"': write_double_quoted(value, split); break;
    case '\'': write_single_quoted(value, split); break;
    case '|': write_literal(value); break;
    default: write_plain(value, split); break;
  }
  indent_ = outer;
}

void YAMLEmitter::emit_plain_scalar(std::string_view tag, std::string_view text) {
  ScalarAnalysis a;
  a.length = text.size();
  a.allow_block_plain = a.allow_single_quoted = a.allow_block = true;
  open_pending_block();
  enter_node(&a, tag);
  const int outer = enter_scalar_indent();
  write_plain(text, !simple_key_context_);
  indent_ = outer;
}

bool YAMLEmitter::is_known_plain_key(std::string_view key) {
  // "!!str" and the text must stay under the simple key limit.
  if (key.size() > sizeof(PlainKey::text))
    return key.size() + 5 < kMaxSimpleKeyLength && yaml_detail::is_plain_text(key);
  static_assert(sizeof(PlainKey::text) <= 24, "same_short compares at most 24 bytes");
  const auto where = reinterpret_cast<std::uintptr_t>(key.data());
  PlainKey& known = plain_keys_[(where * 0x9E3779B97F4A7C15u) >> 57];
  if (known.data == key.data() && known.size == key.size() && same_short(known.text, key.data(), key.size()))
    return true;
  if (!yaml_detail::is_plain_text(key)) return false;
  known.data = key.data();
  known.size = key.size();
  std::memcpy(known.text, key.data(), key.size());
  return true;
}

bool YAMLEmitter::emit_plain_key(std::string_view key) {
  const bool at_key = pending_ == Pending::Mapping ||
                      (pending_ == Pending::None && !frames_.empty() && frames_.back() == Phase::Key);
  if (!at_key || !is_known_plain_key(key)) return false;
  open_pending_block();
  root_context_ = false;
  mapping_context_ = true;
  simple_key_context_ = true;
  frames_.back() = Phase::SimpleValue;
  // After the indentation the line ends in white space, so the key follows directly.
  write_indent();
  whitespace_ = false;
  indention_ = false;
  write_raw(key);
  return true;
}

bool YAMLEmitter::emit_plain_pair(std::string_view key, std::string_view text) {
  const bool at_key = pending_ == Pending::Mapping ||
                      (pending_ == Pending::None && !frames_.empty() && frames_.back() == Phase::Key);
  if (!at_key || !is_known_plain_key(key)) return false;
  open_pending_block();
  return put_plain_line(key, ": ", text, true);
}

bool YAMLEmitter::emit_plain_item(std::string_view text) {
  const bool at_item = pending_ == Pending::Sequence ||
                       (pending_ == Pending::None && !frames_.empty() && frames_.back() == Phase::Item);
  if (!at_item) return false;
  open_pending_block();
  return put_plain_line("- ", {}, text, false);
}

bool YAMLEmitter::put_plain_line(std::string_view lead, std::string_view separator,
                                 std::string_view text, bool in_mapping) {
  const long indent = indent_ < 0 ? 0 : indent_;
  const auto line = static_cast<long>(lead.size() + separator.size() + text.size());
  // Past the width a plain scalar breaks at its spaces; a text without one is written whole.
  if (indent + line > best_width && text.find(' ') != std::string_view::npos) return false;
  const bool line_break = !indention_ || column_ > indent || (column_ == indent && !whitespace_);
  const long from = line_break ? 0 : column_;
  out_.reserve(static_cast<std::size_t>(1 + indent - from + line));
  if (line_break) out_.put('\n');
  out_.fill(' ', static_cast<std::size_t>(indent - from));
  out_.put(lead);
  out_.put(separator);
  out_.put(text);
  column_ = indent + line;
  whitespace_ = false;
  indention_ = false;
  open_ended_ = false;
  root_context_ = false;
  mapping_context_ = in_mapping;
  simple_key_context_ = false;
  return true;
}

void YAMLEmitter::flush() {
  sink_->write(out_.view());
  out_.truncate(0);
}

void YAMLEmitter::emit_mapping_start(std::string_view tag) { collection_start(Pending::Mapping, tag); }
void YAMLEmitter::emit_mapping_end() { collection_end(Pending::Mapping); }
void YAMLEmitter::emit_sequence_start(std::string_view tag) { collection_start(Pending::Sequence, tag); }
void YAMLEmitter::emit_sequence_end() { collection_end(Pending::Sequence); }

void YAMLEmitter::emit_document_end() {
  write_indent();
  if (open_ended_) {
    write_indicator("...", true);
    write_indent();
  }
}

void YAMLEmitter::increase_indent(bool flow, bool indentless) {
  indents_.push_back(indent_);
  if (indent_ < 0)
    indent_ = flow ? best_indent : 0;
  else if (!indentless)
    indent_ += best_indent;
}

// A scalar's continuation lines are indented one step in from its node; the override of
// increase_indent changes only block collections, so scalars take the step directly.
int YAMLEmitter::enter_scalar_indent() {
  const int outer = indent_;
  indent_ = indent_ < 0 ? best_indent : indent_ + best_indent;
  return outer;
}

void YAMLEmitter::pop_indent() {
  indent_ = indents_.back();
  indents_.pop_back();
}

// The step of the enclosing collection before a node: "- " before an item, the key's
// indentation (and "? " before a key that cannot stand on its own line), ": " before a value.
void YAMLEmitter::enter_node(const ScalarAnalysis* key, std::string_view tag) {
  root_context_ = frames_.empty();
  mapping_context_ = false;
  simple_key_context_ = false;
  if (frames_.empty()) return;
  Phase& phase = frames_.back();
  switch (phase) {
    case Phase::Item:
      write_indent();
      write_indicator("-", true, false, true);
      return;
    case Phase::Key:
      mapping_context_ = true;
      write_indent();
      if (key && !key->empty && !key->multiline &&
          prepared_tag_length(tag) + key->length < kMaxSimpleKeyLength) {
        simple_key_context_ = true;
        phase = Phase::SimpleValue;
      } else {
        write_indicator("?", true, false, true);
        phase = Phase::ComplexValue;
      }
      return;
    case Phase::SimpleValue:
      mapping_context_ = true;
      write_indicator(":", false);
      phase = Phase::Key;
      return;
    case Phase::ComplexValue:
      mapping_context_ = true;
      write_indent();
      write_indicator(":", true, false, true);
      phase = Phase::Key;
      return;
  }
}

void YAMLEmitter::collection_start(Pending kind, std::string_view tag) {
  open_pending_block();
  enter_node(nullptr, tag);
  if (!yaml_detail::same_tag(tag, kind == Pending::Mapping ? yaml_detail::kMapTag : yaml_detail::kSeqTag))
    write_tag(tag);
  pending_ = kind;
  pending_indentless_ = mapping_context_ && !indention_;
}

// A collection's first event has arrived and is not its end: it is a block collection.
void YAMLEmitter::open_pending_block() {
  if (pending_ == Pending::None) return;
  if (pending_ == Pending::Sequence) {
    increase_indent(false, pending_indentless_);
    frames_.push_back(Phase::Item);
  } else {
    increase_indent(false, false);
    frames_.push_back(Phase::Key);
  }
  pending_ = Pending::None;
}

void YAMLEmitter::collection_end(Pending kind) {
  if (pending_ != Pending::None) {
    write_indicator(kind == Pending::Mapping ? "{" : "[", true, true);
    write_indicator(kind == Pending::Mapping ? "}" : "]", false);
    pending_ = Pending::None;
    return;
  }
  frames_.pop_back();
  pop_indent();
}

// --- writers ----------------------------------------------------------------------------------

void YAMLEmitter::write_indicator(std::string_view indicator, bool need_whitespace, bool whitespace,
                                  bool indention) {
  if (!whitespace_ && need_whitespace) {
    out_.append(' ');
    ++column_;
  }
  out_.append(indicator);
  column_ += static_cast<long>(indicator.size());
  whitespace_ = whitespace;
  indention_ = indention_ && indention;
  open_ended_ = false;
}

void YAMLEmitter::write_indent() {
  const long indent = indent_ < 0 ? 0 : indent_;
  if (!indention_ || column_ > indent || (column_ == indent && !whitespace_)) write_line_break();
  if (column_ < indent) {
    whitespace_ = true;
    out_.reserve(static_cast<std::size_t>(indent - column_));
    out_.fill(' ', static_cast<std::size_t>(indent - column_));
    column_ = indent;
  }
}

void YAMLEmitter::write_line_break() {
  out_.append('\n');
  whitespace_ = true;
  indention_ = true;
  column_ = 0;
}

void YAMLEmitter::write_raw(std::string_view text) {
  out_.append(text);
  column_ += static_cast<long>(text.size());
}

void YAMLEmitter::write_tag(std::string_view tag) { write_indicator(prepare_tag(tag), true); }

// Plain text holds printable ASCII only and no line break. A single space past the line
// width becomes a line break.
void YAMLEmitter::write_plain(std::string_view text, bool split) {
  if (root_context_) open_ended_ = true;
  if (text.empty()) return;
  if (!whitespace_) {
    out_.append(' ');
    ++column_;
  }
  whitespace_ = false;
  indention_ = false;
  if (!split || column_ + static_cast<long>(text.size()) <= best_width) {
    write_raw(text);
    return;
  }
  bool spaces = false;
  std::size_t start = 0;
  for (std::size_t end = 0; end <= text.size(); ++end) {
    const int ch = end < text.size() ? text[end] : -1;
    if (spaces) {
      if (ch != ' ') {
        if (start + 1 == end && column_ > best_width) {
          write_indent();
          whitespace_ = false;
          indention_ = false;
        } else {
          write_raw(text.substr(start, end - start));
        }
        start = end;
      }
    } else if (ch == -1 || ch == ' ') {
      write_raw(text.substr(start, end - start));
      start = end;
    }
    if (ch != -1) spaces = ch == ' ';
  }
}

// Single-quoted text holds printable ASCII and line feeds; a quote is doubled, a line feed is
// written as an empty line, and a single inner space past the line width becomes a line break.
void YAMLEmitter::write_single_quoted(std::string_view text, bool split) {
  write_indicator("'", true);
  bool spaces = false, breaks = false;
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t end = 0; end <= n; ++end) {
    const int ch = end < n ? text[end] : -1;
    if (spaces) {
      if (ch != ' ') {
        if (start + 1 == end && column_ > best_width && split && start != 0 && end != n)
          write_indent();
        else
          write_raw(text.substr(start, end - start));
        start = end;
      }
    } else if (breaks) {
      if (ch != '\n') {
        if (text[start] == '\n') write_line_break();
        for (std::size_t k = start; k < end; ++k) write_line_break();
        write_indent();
        start = end;
      }
    } else if (ch == -1 || ch == ' ' || ch == '\n' || ch == '\'') {
      if (start < end) {
        write_raw(text.substr(start, end - start));
        start = end;
      }
    }
    if (ch == '\'') {
      write_raw("''");
      start = end + 1;
    }
    if (ch != -1) {
      spaces = ch == ' ';
      breaks = ch == '\n';
    }
  }
  write_indicator("'", false);
}

// Double-quoted text escapes everything outside printable ASCII. Past the line width it breaks
// at a space or after an escape with a trailing backslash; a continuation line that starts with
// a space begins with a backslash so the space survives.
void YAMLEmitter::write_double_quoted(std::string_view text, bool split) {
  wide_.clear();
  for (std::size_t i = 0; i < text.size();) {
    const utils::utf8::CodePoint cp = utils::utf8::decode(text, i);
    wide_.push_back(cp.value);
    i += cp.size;
  }
  const auto n = static_cast<long>(wide_.size());
  const auto write_run = [&](long from, long to) {
    out_.reserve(static_cast<std::size_t>(to - from));
    for (long k = from; k < to; ++k) out_.put(static_cast<char>(wide_[k]));
    column_ += to - from;
  };
  char escaped[10];
  write_indicator("\"", true);
  long start = 0;
  for (long end = 0; end <= n; ++end) {
    const bool at_end = end == n;
    const char32_t ch = at_end ? 0 : wide_[end];
    if (at_end || needs_escape(ch)) {
      if (start < end) {
        write_run(start, end);
        start = end;
      }
      if (!at_end) {
        const std::string_view e = escape(ch, escaped);
        out_.append(e);
        column_ += static_cast<long>(e.size());
        start = end + 1;
      }
    }
    if (split && 0 < end && end < n - 1 && ((!at_end && ch == ' ') || start >= end) &&
        column_ + (end - start) > best_width) {
      if (start < end) {
        write_run(start, end);
        start = end;
      }
      out_.append('\\');
      ++column_;
      write_indent();
      whitespace_ = false;
      indention_ = false;
      if (wide_[start] == ' ') {
        out_.append('\\');
        ++column_;
      }
    }
  }
  write_indicator("\"", false);
}

// A literal block: a header with the indentation and chomping indicators the text needs, then
// the text's lines, each indented.
void YAMLEmitter::write_literal(std::string_view text) {
  std::string header = "|";
  if (text.front() == ' ' || text.front() == '\n') header += std::to_string(best_indent);
  const bool ends_in_break = text.back() == '\n';
  if (!ends_in_break)
    header += '-';
  else if (text.size() == 1 || text[text.size() - 2] == '\n')
    header += '+';
  write_indicator(header, true);
  if (header.back() == '+') open_ended_ = true;
  write_line_break();
  bool breaks = true;
  std::size_t start = 0;
  const std::size_t n = text.size();
  for (std::size_t end = 0; end <= n; ++end) {
    const int ch = end < n ? text[end] : -1;
    if (breaks) {
      if (ch != '\n') {
        for (std::size_t k = start; k < end; ++k) write_line_break();
        if (ch != -1) write_indent();
        start = end;
      }
    } else if (ch == -1 || ch == '\n') {
      write_raw(text.substr(start, end - start));
      if (ch == -1) write_line_break();
      start = end;
    }
    if (ch != -1) breaks = ch == '\n';
  }
}

}  // namespace morvi::reporter::trialkit
