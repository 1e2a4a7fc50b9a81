#include "requests.hpp"

#include <filesystem>
#include <string>

#include "morvi/reporter/markfolio.hpp"
#include "morvi/utils/atomic_file.hpp"
#include "morvi/service/clients/trialkit_client.hpp"
#include "morvi/service/protocol/value_codec.hpp"

namespace morvi::service::server {
namespace {

namespace fs = std::filesystem;
using json = protocol::Json;
using protocol::ProtocolError;

const json& member(const json& request, const char* name, const std::string& what) {
  const auto it = request.find(name);
  if (it == request.end()) throw ProtocolError(what + " needs '" + name + "'");
  return *it;
}

std::string text_member(const json& request, const char* name, const std::string& what) {
  const json& value = member(request, name, what);
  if (!value.is_string()) throw ProtocolError(what + ": '" + name + "' must be a string");
  return value.get<std::string>();
}

const reporter::trialkit::TrialKit& trialkit_of(const protocol::TreeBuilder& builder,
                                                const std::string& what) {
  const auto trialkit = builder.trialkit();
  if (!trialkit) throw ProtocolError(what + ": the job has no trialkit yet");
  return *trialkit;
}

// The folder a request names. The server's working folder means nothing
// to a reader: only absolute paths are taken.
fs::path absolute_dir(const json& request, const std::string& what) {
  const fs::path dir = text_member(request, "dir", what);
  if (!dir.is_absolute())
    throw ProtocolError(what + ": 'dir' must be an absolute path, got '" + dir.string() + "'");
  fs::create_directories(dir);
  return dir;
}

void only(const json& request, std::initializer_list<const char*> names, const std::string& what) {
  for (const auto& [key, value] : request.items()) {
    bool known = key == "request" || key == "id";
    for (const char* name : names) known = known || key == name;
    if (!known) throw ProtocolError(what + ": unknown member '" + key + "'");
  }
}

}  // namespace

json answer(const json& request, const protocol::TreeBuilder& builder, const Progress& progress,
            bool runner) {
  const json& kind = request.at("request");
  if (!kind.is_string()) throw ProtocolError("'request' must be a string");
  const std::string& name = kind.get_ref<const std::string&>();
  const std::string what = "request '" + name + "'";
  if (name == "get_trialkit" || name == "get_section") {
    List path;
    if (name == "get_section") {
      only(request, {"id_list"}, what);
      Value ids;
      try {
        ids = protocol::decode_value(member(request, "id_list", what));
      } catch (const ProtocolError& e) {
        throw ProtocolError(what + ": 'id_list': " + e.what());
      }
      if (!ids.is_list()) throw ProtocolError(what + ": 'id_list' must be a list");
      path = ids.as_list();
    } else {
      only(request, {}, what);
    }
    const auto trialkit = builder.trialkit();
    if (!trialkit) return protocol::encode_value(Value(Map()));
    clients::TrialKitClient client(trialkit);
    return protocol::encode_value(path.empty() ? client.get_trialkit() : client.get_section(path));
  }
  if (name == "document") {
    only(request, {"format", "dir"}, what);
    const std::string format = text_member(request, "format", what);
    if (format != "json" && format != "yaml")
      throw ProtocolError(what + ": 'format' must be \"json\" or \"yaml\", got \"" + format + "\"");
    // A large job's document is longer than a reply line may be: it goes into a file instead.
    const bool to_file = request.contains("dir");
    const fs::path dir = to_file ? absolute_dir(request, what) : fs::path();
    const auto& trialkit = trialkit_of(builder, what);
    std::string text = format == "json" ? trialkit.dump_json() : trialkit.dump_yaml();
    if (!to_file) return json(std::move(text));
    fs::create_directories(dir);
    const fs::path file = dir / (format == "json" ? "results.json" : "results.yaml");
    utils::write_file_atomically(file.string(), text);
    return json(file.string());
  }
  if (name == "write_xml") {
    only(request, {"dir"}, what);
    const fs::path dir = absolute_dir(request, what);
    const auto& trialkit = trialkit_of(builder, what);
    fs::create_directories(dir);
    reporter::markfolio::MarkFolio(dir.string(), trialkit).generate_xml({}, {});
    return protocol::encode_value(Value::list({(dir / "ResultsDetails.xml").string(),
                                               (dir / "ResultsSummary.xml").string()}));
  }
  if (name == "progress") {
    only(request, {}, what);
    return protocol::encode_value(Value(progress.record(builder, runner)));
  }
  throw ProtocolError("unknown request '" + name + "'");
}

}  // namespace morvi::service::server
