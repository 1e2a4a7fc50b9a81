#include "morvi/reporter/schema/results_json.hpp"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>

#include "morvi/errors.hpp"
#include "morvi/reporter/schema.hpp"

namespace morvi::reporter::schema {

namespace {

using json = nlohmann::json;

struct LineColumn {
  std::size_t line;
  std::size_t column;
};

// 1-based line and column (in bytes) of the byte at `offset`.
LineColumn line_column(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  std::size_t line = 1;
  for (const char c : before) line += c == '\n';
  const std::size_t line_start = before.rfind('\n');
  const std::size_t column = line_start == std::string_view::npos ? offset + 1 : offset - line_start;
  return {line, column};
}

[[noreturn]] void fail(std::string_view origin, std::string_view text, std::size_t offset,
                       std::string_view detail) {
  const LineColumn at = line_column(text, offset);
  throw ParseError(std::string(origin) + ": line " + std::to_string(at.line) + ", column " +
                       std::to_string(at.column) + ": " + std::string(detail),
                   at.line, at.column);
}

// A NaN, Infinity or -Infinity literal: the how-many-th number of the document it is, and the
// value it stands for.
struct NonFiniteLiteral {
  std::size_t number_ordinal;
  std::size_t offset;
  std::size_t length;
  double value;
};

bool is_delimiter(char c) {
  switch (c) {
    case ' ': case '\t': case '\n': case '\r': case ',': case ':':
    case '[': case ']': case '{': case '}': case '"':
      return true;
    default:
      return false;
  }
}

// Whether a number literal is too large for a double (1e400, an integer of 400 digits), which
// the parser would refuse without saying where.
bool overflows_double(std::string_view token) {
  if (token.size() < 300 && token.find_first_of("eE") == std::string_view::npos) return false;
  const std::string literal(token);
  char* end = nullptr;
  const double x = std::strtod(literal.c_str(), &end);
  return end == literal.c_str() + literal.size() && std::isinf(x);
}

// The start of a long literal, enough to find it by.
std::string excerpt(std::string_view token) {
  constexpr std::size_t kShown = 24;
  if (token.size() <= kShown) return std::string(token);
  return std::string(token.substr(0, kShown)) + "... (" + std::to_string(token.size()) +
         " characters)";
}

// One pass over the text, outside strings: refuses nesting deeper than MAX_DEPTH before the
// parser builds anything, NUL bytes and numbers past a double, and finds the non-finite
// literals the parser does not know.
std::vector<NonFiniteLiteral> scan(std::string_view text, std::string_view origin) {
  std::vector<NonFiniteLiteral> literals;
  std::size_t depth = 0;
  std::size_t numbers = 0;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < n && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
      }
      ++i;
    } else if (c == '[' || c == '{') {
      if (++depth > MAX_DEPTH) {
        fail(origin, text, i,
             "arrays and objects nest deeper than the limit of " + std::to_string(MAX_DEPTH) +
                 " levels");
      }
      ++i;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
      ++i;
    } else if (is_delimiter(c)) {
      ++i;
    } else {
      std::size_t end = i;
      while (end < n && !is_delimiter(text[end])) ++end;
      const std::string_view token = text.substr(i, end - i);
      constexpr double inf = std::numeric_limits<double>::infinity();
      if (token == "NaN") {
        literals.push_back({numbers, i, token.size(), std::numeric_limits<double>::quiet_NaN()});
      } else if (token == "Infinity") {
        literals.push_back({numbers, i, token.size(), inf});
      } else if (token == "-Infinity") {
        literals.push_back({numbers, i, token.size(), -inf});
      }
      if (const std::size_t nul = token.find('\0'); nul != std::string_view::npos) {
        // The parser would take it for the end of the text and ignore all that follows.
        fail(origin, text, i + nul, "a NUL byte outside a string is not JSON");
      }
      const bool number = token.front() == '-' || (token.front() >= '0' && token.front() <= '9');
      if (number && overflows_double(token)) {
        fail(origin, text, i, "number out of the range of a double: " + excerpt(token));
      }
      if (number || token == "NaN" || token == "Infinity") ++numbers;
      i = end;
    }
  }
  return literals;
}

// The parser's own message without its "[json.exception...] parse error at line L, column C: "
// prefix; the position is put back in our own form. Its "last read" excerpt is dropped when
// the parser read a patched copy of the text, which would show the patch.
std::string parser_detail(const json::parse_error& e, bool patched) {
  std::string_view detail = e.what();
  const std::size_t column = detail.find("column ");
  const std::size_t colon = column == std::string_view::npos ? column : detail.find(": ", column);
  if (colon != std::string_view::npos) detail.remove_prefix(colon + 2);
  if (patched) detail = detail.substr(0, detail.find("; last read: "));
  return std::string(detail);
}

template <class Json>
Json parse_as(std::string_view text, std::string_view origin) {
  const std::vector<NonFiniteLiteral> literals = scan(text, origin);
  try {
    if (literals.empty()) return Json::parse(text.begin(), text.end());

    // Each literal becomes a zero of the same length, so positions in parser messages stay
    // true; the callback then puts the real value in place of that zero.
    std::string patched(text);
    for (const NonFiniteLiteral& literal : literals) {
      patched.replace(literal.offset, literal.length, literal.length, ' ');
      patched[literal.offset] = '0';
    }
    std::size_t number = 0;
    std::size_t next = 0;
    const typename Json::parser_callback_t put_back = [&](int, typename Json::parse_event_t event,
                                                         Json& parsed) {
      if (event == Json::parse_event_t::value && parsed.is_number()) {
        if (next < literals.size() && literals[next].number_ordinal == number) {
          parsed = literals[next++].value;
        }
        ++number;
      }
      return true;
    };
    return Json::parse(patched, put_back);
  } catch (const nlohmann::json::parse_error& e) {
    fail(origin, text, e.byte == 0 ? 0 : e.byte - 1, parser_detail(e, !literals.empty()));
  }
}

}  // namespace

namespace {

// A std::string as read_whole fills it: room is made by growing it, and trimmed to what came.
class StringSink {
 public:
  explicit StringSink(std::string& text) : text_(text) {}
  std::size_t size() const noexcept { return text_.size(); }
  void reserve(std::size_t total) { text_.reserve(total); }
  char* room(std::size_t n) {
    kept_ = text_.size();
    text_.resize(kept_ + n);
    return text_.data() + kept_;
  }
  void commit(std::size_t n) { text_.resize(kept_ + n); }

 private:
  std::string& text_;
  std::size_t kept_ = 0;
};

template <class Sink>
void read_whole(const std::string& path, std::size_t max_bytes, Sink& content) {
  const bool standard_input = path == "-";
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      standard_input ? stdin : std::fopen(path.c_str(), "rb"),
      standard_input ? [](std::FILE*) { return 0; } : &std::fclose);
  if (!file) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  const auto too_large = [&] {
    return std::system_error(std::make_error_code(std::errc::file_too_large),
                             "cannot read " + path + ": it holds more than the limit of " +
                                 std::to_string(max_bytes) + " bytes");
  };
  // Sized from the file's length, so a large document is read with one allocation; a file
  // that grows meanwhile is still read to its end, up to the limit. Pipes, terminals and
  // devices tell no length and are read in chunks.
  struct stat info {};
  if (::fstat(::fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > max_bytes) throw too_large();
    content.reserve(size);
    content.commit(std::fread(content.room(size), 1, size, file.get()));
  }
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  for (;;) {
    const std::size_t got = std::fread(content.room(kChunk), 1, kChunk, file.get());
    if (got > max_bytes - std::min(max_bytes, content.size())) throw too_large();
    content.commit(got);
    if (got == 0) break;
  }
  if (std::ferror(file.get())) {
    throw std::system_error(errno, std::generic_category(), "cannot read " + path);
  }
}

// Huge pages are 2 MiB here; smaller texts keep to small pages.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

std::string read_text_file(const std::string& path, std::size_t max_bytes) {
  std::string content;
  StringSink sink(content);
  read_whole(path, max_bytes, sink);
  return content;
}

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(data_, capacity_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

TextBuffer::~TextBuffer() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

void TextBuffer::reserve(std::size_t total) {
  if (total > capacity_) grow_to(total);
}

char* TextBuffer::room(std::size_t n) {
  if (n > capacity_ - size_) grow_to(std::max(size_ + n, capacity_ * 2));
  return data_ + size_;
}

void TextBuffer::grow_to(std::size_t capacity) {
  const std::size_t page = capacity >= 2 * kHugePage ? kHugePage : std::size_t{4096};
  capacity = (capacity + page - 1) / page * page;
  void* grown = data_ == nullptr
                    ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                    : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) throw std::bad_alloc();
  if (page == kHugePage) ::madvise(grown, capacity, MADV_HUGEPAGE);  // only a hint
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

TextBuffer read_text_buffer(const std::string& path, std::size_t max_bytes) {
  TextBuffer content;
  read_whole(path, max_bytes, content);
  return content;
}

json parse_results_json(std::string_view text, std::string_view origin) {
  return parse_as<json>(text, origin);
}

nlohmann::ordered_json parse_results_json_ordered(std::string_view text, std::string_view origin) {
  return parse_as<nlohmann::ordered_json>(text, origin);
}

}  // namespace morvi::reporter::schema
