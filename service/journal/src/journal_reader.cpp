#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

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

void check_header(std::string_view line, const std::string& path) {
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
      check_header(line, path);
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

Replay replay(const std::string& path) {
  JournalContents contents = read_journal(path);
  Replay out;
  out.warning = std::move(contents.warning);
  for (std::size_t i = 0; i < contents.events.size(); ++i) {
    try {
      out.builder.apply(contents.events[i]);
    } catch (const ProtocolError& e) {
      // Line 1 is the header.
      throw ProtocolError(path + ":" + std::to_string(i + 2) + ": " + e.what(), i + 2);
    }
  }
  return out;
}

}  // namespace morvi::service::journal
