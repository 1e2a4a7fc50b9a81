#pragma once
// A results document read as nlohmann SAX events, one node at a time: a node's own fields
// (small objects and lists) are gathered whole, its child lists ("tasks", "sections") pass by
// unheld, so memory stays bounded by the deepest path however large the job is. A reader built
// on it sees each node open, its own fields known (before its first child, or at its end when
// it has none), and close.
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "morvi/json_stream/field_builder.hpp"
#include "morvi/results_depth.hpp"

#pragma GCC visibility push(default)
namespace morvi::json_stream {

// A field as text: a string as it stands, null as nothing, any other value as compact JSON.
std::string text_of(const nlohmann::json& value);
// The field `name` of `fields` as text; nothing when it is missing.
std::string field_text(const nlohmann::json& fields, const char* name);

class FileInput;

class ResultsReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  using json = nlohmann::json;

  // Deeper documents are refused: as deep as the results writer writes, no deeper.
  static constexpr std::size_t MAX_NESTING = MAX_RESULTS_NESTING;

  // Reads the whole document, then checks that it held one report of format "3.4". NaN,
  // Infinity and -Infinity are read as the non-finite reals the results writer writes them
  // for. Every refusal is a ParseError naming the origin; a file that cannot be read is a
  // std::system_error naming it.
  void read(std::FILE* in);

  bool start_object(std::size_t) final;
  bool end_object() final;
  bool start_array(std::size_t) final;
  bool end_array() final;
  bool key(string_t& k) final;
  bool null() final { return scalar(nullptr); }
  bool boolean(bool v) final { return scalar(v); }
  bool number_integer(number_integer_t v) final { return number(v); }
  bool number_unsigned(number_unsigned_t v) final { return number(v); }
  bool number_float(number_float_t v, const string_t&) final { return number(v); }
  bool string(string_t& v) final { return scalar(v); }
  bool binary(binary_t&) final { return true; }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) final;

 protected:
  explicit ResultsReader(std::string origin) : origin_(std::move(origin)) {}
  ~ResultsReader() override = default;

  virtual void node_opened() {}
  virtual void fields_known() = 0;
  virtual void node_closed() = 0;

  // The open node's depth: 0 for the report, 1 for its tasks and so on.
  std::size_t depth() const noexcept { return nodes_.size() - 1; }
  // The fields read so far of the open node at `level` (at most depth()).
  const json& fields(std::size_t level) const { return nodes_[level].fields; }
  const json& fields() const { return nodes_.back().fields; }

  const std::string& origin() const noexcept { return origin_; }
  // "ORIGIN: not a results document: WHAT"
  [[noreturn]] void fail(const std::string& what) const;
  // The same, naming the open node and its place in the document.
  [[noreturn]] void fail_at_node(const std::string& what) const;

 private:
  struct Node {
    json fields = json::object();
    std::string pending_key;
    std::size_t number = 0;  // in document order, from 1
    bool key_pending = false;
    bool in_children = false;
    bool fields_announced = false;
  };

  void nest();
  bool scalar(json value);
  bool begin_value(json container);
  void open_node();
  void announce_fields();
  void refuse_unread_input(const std::string& where) const;
  bool number(json value);

  std::string origin_;
  FileInput* input_ = nullptr;  // while read() runs
  std::size_t numbers_ = 0;     // number values read
  std::vector<Node> nodes_;
  FieldBuilder field_;
  json scratch_;  // root-level values other than the report and the version
  std::string root_key_;
  std::string version_;  // as JSON text, quotes and all
  std::size_t nesting_ = 0;
  std::size_t nodes_seen_ = 0;
  bool root_open_ = false;
  bool seen_report_ = false;
};

}  // namespace morvi::json_stream
#pragma GCC visibility pop
