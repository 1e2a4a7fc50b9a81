// The safe dumper's standard representers.
#include "standard_representers.hpp"

#include "scalar_analysis.hpp"
#include "scalar_texts.hpp"

namespace morvi::reporter::trialkit::yaml_detail {

void represent_none(YAMLDumper& dumper, const Value&) {
  dumper.represent_plain_scalar("tag:yaml.org,2002:null", "null");
}

void represent_bool(YAMLDumper& dumper, const Value& data) {
  dumper.represent_plain_scalar("tag:yaml.org,2002:bool", data.as_bool() ? "true" : "false");
}

void represent_int(YAMLDumper& dumper, const Value& data) {
  char buf[kScalarTextMax];
  dumper.represent_plain_scalar("tag:yaml.org,2002:int", int_text(data.as_int(), buf));
}

void represent_list(YAMLDumper& dumper, const Value& data) {
  dumper.represent_sequence(kSeqTag, data.as_list());
}

void represent_dict(YAMLDumper& dumper, const Value& data) {
  dumper.represent_mapping(kMapTag, data.as_map());
}

void represent_datetime(YAMLDumper& dumper, const Value& data) {
  char buf[kScalarTextMax];
  dumper.represent_plain_scalar("tag:yaml.org,2002:timestamp", datetime_text(data.as_datetime(), buf));
}

}  // namespace morvi::reporter::trialkit::yaml_detail
