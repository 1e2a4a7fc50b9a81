#pragma once
// The representers the YAML library's safe dumper brings for the plain kinds of value: none,
// truth values, integers, lists and tuples, maps and date-times.
#include "morvi/reporter/trialkit/yaml.hpp"

namespace morvi::reporter::trialkit::yaml_detail {

void represent_none(YAMLDumper& dumper, const Value& data);
void represent_bool(YAMLDumper& dumper, const Value& data);
void represent_int(YAMLDumper& dumper, const Value& data);
void represent_list(YAMLDumper& dumper, const Value& data);
void represent_dict(YAMLDumper& dumper, const Value& data);
void represent_datetime(YAMLDumper& dumper, const Value& data);

}  // namespace morvi::reporter::trialkit::yaml_detail
