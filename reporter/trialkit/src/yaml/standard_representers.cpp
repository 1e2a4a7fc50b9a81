// The safe dumper's standard representers.
#include "standard_representers.hpp"

#include <charconv>
#include <string>

#include "../text/datetime_text.hpp"
#include "scalar_analysis.hpp"

namespace morvi::reporter::trialkit::yaml_detail {

void represent_none(YAMLDumper& dumper, const Value&) {
  dumper.represent_plain_scalar("tag:yaml.org,2002:null", "null");
}

void represent_bool(YAMLDumper& dumper, const Value& data) {
  dumper.represent_plain_scalar("tag:yaml.org,2002:bool", data.as_bool() ? "true" : "false");
}

void represent_int(YAMLDumper& dumper, const Value& data) {
  char buf[24];
  const auto end = std::to_chars(buf, buf + sizeof buf, data.as_int()).ptr;
  dumper.represent_plain_scalar("tag:yaml.org,2002:int", std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

void represent_list(YAMLDumper& dumper, const Value& data) {
  dumper.represent_sequence(kSeqTag, data.as_list());
}

void represent_dict(YAMLDumper& dumper, const Value& data) {
  dumper.represent_mapping(kMapTag, data.as_map());
}

void represent_datetime(YAMLDumper& dumper, const Value& data) {
  char buf[text::kDateTimeTextMax];
  const char* end = text::write_datetime(buf, data.as_datetime());
  dumper.represent_plain_scalar("tag:yaml.org,2002:timestamp", std::string_view(buf, static_cast<std::size_t>(end - buf)));
}

}  // namespace morvi::reporter::trialkit::yaml_detail
