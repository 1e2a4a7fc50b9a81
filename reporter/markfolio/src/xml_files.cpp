#include "xml_files.hpp"

#include <fcntl.h>
#include <libxml/parser.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <system_error>

#include "morvi/errors.hpp"

namespace morvi::reporter::markfolio::xml_files {
namespace {

constexpr int kParseOptions = XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_COMPACT |
                              XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// Bytes handed to the push parser at a time; the in-memory reader takes an int length, which
// would cap a document at 2 GiB.
constexpr std::size_t kChunk = std::size_t{64} << 20;

struct ContextFree {
  void operator()(xmlParserCtxt* ctxt) const noexcept { xmlFreeParserCtxt(ctxt); }
};

[[noreturn]] void raise_errno(const std::string& action, const std::string& path) {
  throw std::system_error(errno, std::generic_category(), action + " " + path);
}

void write_all(int fd, std::string_view content, const std::string& path) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_errno("cannot write", path);
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

zorbel::xml::DocPtr parse(std::string_view bytes, std::string_view what) {
  const std::size_t first = std::min(bytes.size(), kChunk);
  std::unique_ptr<xmlParserCtxt, ContextFree> ctxt(xmlCreatePushParserCtxt(
      nullptr, nullptr, bytes.data(), static_cast<int>(first), nullptr));
  if (!ctxt) throw std::bad_alloc();
  xmlCtxtUseOptions(ctxt.get(), kParseOptions);
  std::size_t done = first;
  do {
    const std::size_t n = std::min(bytes.size() - done, kChunk);
    const bool last = done + n == bytes.size();
    if (xmlParseChunk(ctxt.get(), bytes.data() + done, static_cast<int>(n), last ? 1 : 0) != 0) {
      break;
    }
    done += n;
    if (last) break;
  } while (true);
  zorbel::xml::DocPtr doc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  if (!ctxt->wellFormed || !doc) {
    const xmlError* error = xmlCtxtGetLastError(ctxt.get());
    std::string message = error && error->message ? error->message : "not well-formed";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    const std::size_t line = error ? static_cast<std::size_t>(std::max(error->line, 0)) : 0;
    const std::size_t column = error ? static_cast<std::size_t>(std::max(error->int2, 0)) : 0;
    throw ParseError("cannot parse the " + std::string(what) + " XML at line " +
                         std::to_string(line) + ", column " + std::to_string(column) + ": " +
                         message,
                     line, column);
  }
  return doc;
}

void write_whole(const std::string& path, std::string_view content) {
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  while (fd < 0) {
    temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) raise_errno("cannot create", temp);
  }
  try {
    write_all(fd, content, temp);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) raise_errno("cannot write", temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) raise_errno("cannot replace", path);
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
}

void write_direct(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) raise_errno("cannot create", path);
  try {
    write_all(fd, content, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) raise_errno("cannot write", path);
}

}  // namespace morvi::reporter::markfolio::xml_files
