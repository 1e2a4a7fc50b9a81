#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "morvi/service/journal/journal.hpp"

namespace morvi::service::journal {
namespace {

using protocol::ProtocolError;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::system_error(std::make_error_code(std::errc::no_such_file_or_directory),
                            "cannot read the journal '" + path + "'");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    throw std::system_error(std::make_error_code(std::errc::io_error),
                            "cannot read the journal '" + path + "'");
  return text;
}

// The header's number of the first event (1 when it names none).
std::uint64_t check_header(std::string_view line, const std::string& path) {
  nlohmann::json header;
  try {
    header = nlohmann::json::parse(line);
  } catch (const nlohmann::json::exception&) {
    throw ProtocolError(path + ":1: not a journal: the header line is not JSON", 1);
  }
  if (!header.is_object() || header.value("format", "") != protocol::kFormat)
    throw ProtocolError(path + ":1: not a journal: the header does not name the format '" +
                            std::string(protocol::kFormat) + "'", 1);
  const auto version = header.find("version");
  if (version == header.end() || !version->is_number_integer() ||
      version->get<std::int64_t>() != protocol::kVersion)
    throw ProtocolError(path + ":1: journal version " + (version == header.end() ? "none" : version->dump()) +
                            " is not the version this program reads (" +
                            std::to_string(protocol::kVersion) + ")", 1);
  const auto first = header.find("first");
  if (first == header.end()) return 1;
  if (!first->is_number_unsigned() || first->get<std::uint64_t>() == 0)
    throw ProtocolError(path + ":1: the header's 'first' must be a whole number of 1 or more, "
                        "got " + first->dump(), 1);
  return first->get<std::uint64_t>();
}

}  // namespace

JournalContents read_journal(const std::string& path) {
  const std::string text = read_file(path);
  JournalContents contents;
  std::size_t begin = 0;
  std::size_t line_number = 0;
  while (begin < text.size()) {
    const std::size_t newline = text.find('\n', begin);
    const bool complete = newline != std::string::npos;
    const std::size_t end = complete ? newline : text.size();
    const std::string_view line(text.data() + begin, end - begin);
    ++line_number;
    const bool last = !complete || end + 1 == text.size();
    if (line_number == 1) {
      if (!complete && last) {
        contents.warning = path + ": the header line at byte 0 is torn; the journal is empty";
        return contents;
      }
      contents.first = check_header(line, path);
    } else {
      try {
        contents.events.push_back(protocol::decode_event(line));
      } catch (const ProtocolError& e) {
        if (!last)
          throw ProtocolError(path + ":" + std::to_string(line_number) + ": " + e.what(),
                              line_number);
        contents.warning = path + ": the last line, at byte " + std::to_string(begin) +
                           ", is torn and was left out (" + e.what() + ")";
      }
    }
    begin = end + 1;
  }
  if (line_number == 0) throw ProtocolError(path + ": not a journal: the file is empty");
  return contents;
}

Replay replay(const std::string& path) { return replay(std::vector<std::string>{path}); }

Replay replay(const std::vector<std::string>& paths) {
  Replay out;
  // The job's events applied so far, over every journal read.
  std::uint64_t held = 0;
  for (const std::string& path : paths) {
    JournalContents contents = read_journal(path);
    if (contents.warning) out.warnings.push_back(std::move(*contents.warning));
    if (contents.first > held + 1) {
      throw ProtocolError(
          path + ":1: the journal starts at event " + std::to_string(contents.first) +
          (held == 0 ? " of its job; give the journals holding the events before it first"
                     : " but the journals before it end at event " + std::to_string(held) +
                           "; the events between them are missing"),
          1);
    }
    const std::uint64_t skip = held + 1 - contents.first;
    for (std::size_t i = skip; i < contents.events.size(); ++i) {
      try {
        out.builder.apply(std::move(contents.events[i]));
      } catch (const ProtocolError& e) {
        // Line 1 is the header.
        throw ProtocolError(path + ":" + std::to_string(i + 2) + ": " + e.what(), i + 2);
      }
      ++held;
    }
  }
  return out;
}

}  // namespace morvi::service::journal
