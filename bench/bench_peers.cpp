// The strong C and C++ peers of the results writers, on a results file written by dump_json:
// RapidJSON parses it once into a document, then its Writer writes the document to memory
// (`json`), or libyaml's emitter writes it as block-style YAML to memory (`yaml`). Only the
// writing is timed, by the CPU time of this process; bench/run puts the medians beside ours.
//
//   bench_peers json|yaml FILE [--runs N]
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#ifdef MORVI_BENCH_LIBYAML
#include <yaml.h>
#endif

#include "bench_support.hpp"

namespace {

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The size of the text one Writer pass makes of `document`.
std::size_t write_json(const rapidjson::Document& document) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  return buffer.GetSize();
}

#ifdef MORVI_BENCH_LIBYAML
int append_output(void* data, unsigned char* bytes, size_t size) {
  static_cast<std::string*>(data)->append(reinterpret_cast<const char*>(bytes), size);
  return 1;
}

yaml_char_t* chars(const char* text) {
  return reinterpret_cast<yaml_char_t*>(const_cast<char*>(text));
}

// Emits `value` as events; numbers and literals are plain scalars, strings any style the
// emitter finds safe (it quotes what would not read back as the same text).
bool emit(yaml_emitter_t& emitter, const rapidjson::Value& value) {
  yaml_event_t event;
  const auto scalar = [&](const char* text, std::size_t size, bool plain) {
    yaml_scalar_event_initialize(&event, nullptr, nullptr, chars(text), static_cast<int>(size),
                                 plain ? 1 : 0, plain ? 0 : 1,
                                 plain ? YAML_PLAIN_SCALAR_STYLE : YAML_ANY_SCALAR_STYLE);
    return yaml_emitter_emit(&emitter, &event) != 0;
  };
  if (value.IsObject()) {
    yaml_mapping_start_event_initialize(&event, nullptr, nullptr, 1, YAML_BLOCK_MAPPING_STYLE);
    if (!yaml_emitter_emit(&emitter, &event)) return false;
    for (const auto& member : value.GetObject()) {
      if (!scalar(member.name.GetString(), member.name.GetStringLength(), false)) return false;
      if (!emit(emitter, member.value)) return false;
    }
    yaml_mapping_end_event_initialize(&event);
    return yaml_emitter_emit(&emitter, &event) != 0;
  }
  if (value.IsArray()) {
    yaml_sequence_start_event_initialize(&event, nullptr, nullptr, 1, YAML_BLOCK_SEQUENCE_STYLE);
    if (!yaml_emitter_emit(&emitter, &event)) return false;
    for (const auto& item : value.GetArray()) {
      if (!emit(emitter, item)) return false;
    }
    yaml_sequence_end_event_initialize(&event);
    return yaml_emitter_emit(&emitter, &event) != 0;
  }
  if (value.IsString()) return scalar(value.GetString(), value.GetStringLength(), false);
  if (value.IsNull()) return scalar("null", 4, true);
  if (value.IsBool()) return value.GetBool() ? scalar("true", 4, true) : scalar("false", 5, true);
  rapidjson::StringBuffer number;
  rapidjson::Writer<rapidjson::StringBuffer> writer(number);
  value.Accept(writer);
  return scalar(number.GetString(), number.GetSize(), true);
}

// The size of the YAML libyaml's emitter makes of `document`; 0 when it fails.
std::size_t write_yaml(const rapidjson::Document& document) {
  std::string out;
  yaml_emitter_t emitter;
  yaml_emitter_initialize(&emitter);
  yaml_emitter_set_output(&emitter, append_output, &out);
  yaml_emitter_set_unicode(&emitter, 1);
  yaml_emitter_set_width(&emitter, -1);
  yaml_event_t event;
  yaml_stream_start_event_initialize(&event, YAML_UTF8_ENCODING);
  bool ok = yaml_emitter_emit(&emitter, &event) != 0;
  yaml_document_start_event_initialize(&event, nullptr, nullptr, nullptr, 1);
  ok = ok && yaml_emitter_emit(&emitter, &event) != 0;
  ok = ok && emit(emitter, document);
  yaml_document_end_event_initialize(&event, 1);
  ok = ok && yaml_emitter_emit(&emitter, &event) != 0;
  yaml_stream_end_event_initialize(&event);
  ok = ok && yaml_emitter_emit(&emitter, &event) != 0;
  ok = ok && yaml_emitter_flush(&emitter) != 0;
  yaml_emitter_delete(&emitter);
  return ok ? out.size() : 0;
}
#endif

int usage() {
  std::fprintf(stderr, "usage: bench_peers json|yaml FILE [--runs N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) return usage();
  const std::string what = argv[1];
  int runs = 3;
  if (argc == 5) {
    if (std::string(argv[3]) != "--runs") return usage();
    runs = std::max(1, morvi::bench::parse_count("bench_peers", "--runs", argv[4]));
  }
  std::size_t (*write)(const rapidjson::Document&) = nullptr;
  const char* name = nullptr;
  if (what == "json") {
    write = write_json;
    name = "rapidjson Writer";
#ifdef MORVI_BENCH_LIBYAML
  } else if (what == "yaml") {
    write = write_yaml;
    name = "libyaml emitter";
#endif
  } else {
    return usage();
  }

  std::ifstream in(argv[2], std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    std::fprintf(stderr, "bench_peers: cannot read %s\n", argv[2]);
    return 1;
  }
  rapidjson::Document document;
  document.Parse(text.str().c_str());
  if (document.HasParseError()) {
    std::fprintf(stderr, "bench_peers: %s is not JSON (offset %zu)\n", argv[2],
                 document.GetErrorOffset());
    return 1;
  }

  std::vector<double> cpus;
  for (int run = 0; run < runs; ++run) {
    const double begin = cpu_seconds();
    const std::size_t size = write(document);
    cpus.push_back(cpu_seconds() - begin);
    if (size == 0) {
      std::fprintf(stderr, "bench_peers: the %s failed\n", name);
      return 1;
    }
    std::printf("%s run %d: cpu %.3f s, %.1f MB\n", name, run + 1, cpus.back(),
                static_cast<double>(size) / 1e6);
  }
  std::printf("%s median: cpu %.3f s over %d runs\n", name, morvi::bench::median(cpus), runs);
  return 0;
}
