#include "morvi/service/clients/socket_client.hpp"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "morvi/service/protocol/protocol.hpp"
#include "morvi/service/protocol/value_codec.hpp"

namespace morvi::service::clients {
namespace {

using json = protocol::Json;
using protocol::ProtocolError;

}  // namespace

SocketReporterClient::SocketReporterClient(std::string socket_path,
                                           std::chrono::milliseconds timeout)
    : path_(std::move(socket_path)), timeout_(timeout) {
  sockaddr_un address{};
  if (path_.empty() || path_.size() >= sizeof address.sun_path)
    gone(ENAMETOOLONG, "the socket path must be 1 to " +
                           std::to_string(sizeof address.sun_path - 1) + " bytes long");
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) gone(errno, "cannot make a socket");
  address.sun_family = AF_UNIX;
  path_.copy(address.sun_path, sizeof address.sun_path - 1);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    gone(error, "no reporter server answers");
  }
  try {
    send(json{{"hello", std::string(protocol::kFormat)}, {"version", protocol::kVersion}, {"role", "reader"}}
             .dump() +
         "\n");
    const json answer = json::parse(read_line(), nullptr, false);
    if (!answer.is_object() || answer.value("ok", false) != true)
      throw ProtocolError("reporter server at '" + path_ + "' refused the connection: " +
                          (answer.is_object() && answer.contains("error")
                               ? answer["error"].dump()
                               : std::string("it answered no hello")));
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
}

SocketReporterClient::~SocketReporterClient() {
  if (fd_ >= 0) ::close(fd_);
}

void SocketReporterClient::gone(int error, const std::string& what) const {
  throw std::system_error(error, std::generic_category(),
                          "reporter server at '" + path_ + "': " + what);
}

void SocketReporterClient::send(const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::send(fd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      gone(errno, "the server has gone");
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string SocketReporterClient::read_line() {
  std::size_t scanned = 0;
  for (;;) {
    const auto newline = buffer_.find('\n', scanned);
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    scanned = buffer_.size();
    if (buffer_.size() > protocol::kMaxFrameSize)
      throw ProtocolError("reporter server at '" + path_ + "' sent a line over the limit of " +
                          std::to_string(protocol::kMaxFrameSize) + " bytes");
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout_.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      gone(errno, "cannot wait for the server");
    }
    if (ready == 0)
      gone(ETIMEDOUT, "no answer within " + std::to_string(timeout_.count()) + " ms");
    char chunk[1 << 16];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      gone(errno, "the server has gone");
    }
    if (n == 0) gone(ECONNRESET, "the server has gone (the connection was closed)");
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

json SocketReporterClient::call(json request) {
  if (fd_ < 0) gone(ENOTCONN, "not connected");
  const std::string name = request["request"].get<std::string>();
  request["id"] = ++last_id_;
  send(request.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  const std::string line = read_line();
  const json reply = json::parse(line, nullptr, false);
  const std::string what = "reporter server at '" + path_ + "', request '" + name + "': ";
  if (!reply.is_object() || !reply.contains("reply"))
    throw ProtocolError(what + "the answer is not a reply");
  if (reply["reply"] != last_id_) throw ProtocolError(what + "the reply answers another request");
  if (reply.value("ok", false) != true)
    throw ProtocolError(what + (reply.contains("error") && reply["error"].is_string()
                                    ? reply["error"].get<std::string>()
                                    : std::string("refused")));
  if (!reply.contains("result")) throw ProtocolError(what + "the reply carries no result");
  return reply["result"];
}

Value SocketReporterClient::get_trialkit() {
  return protocol::decode_value(call(json{{"request", "get_trialkit"}}));
}

Value SocketReporterClient::get_section(const List& id_list) {
  return protocol::decode_value(
      call(json{{"request", "get_section"}, {"id_list", protocol::encode_value(Value(id_list))}}));
}

std::string SocketReporterClient::document(std::string_view format) {
  const json text = call(json{{"request", "document"}, {"format", std::string(format)}});
  if (!text.is_string()) throw ProtocolError("reporter server at '" + path_ + "': a document is text");
  return text.get<std::string>();
}

std::string SocketReporterClient::write_document(std::string_view format, const std::string& dir) {
  const json path =
      call(json{{"request", "document"}, {"format", std::string(format)}, {"dir", dir}});
  if (!path.is_string()) throw ProtocolError("reporter server at '" + path_ + "': a document's path is text");
  return path.get<std::string>();
}

List SocketReporterClient::write_xml(const std::string& dir) {
  const Value paths = protocol::decode_value(call(json{{"request", "write_xml"}, {"dir", dir}}));
  if (!paths.is_list()) throw ProtocolError("reporter server at '" + path_ + "': write_xml gives a list");
  return paths.as_list();
}

Map SocketReporterClient::progress() {
  const Value counts = protocol::decode_value(call(json{{"request", "progress"}}));
  if (!counts.is_map()) throw ProtocolError("reporter server at '" + path_ + "': progress gives a map");
  return counts.as_map();
}

}  // namespace morvi::service::clients
