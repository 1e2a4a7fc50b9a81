// morvi serve as a child process: the socket's mode, stale and live sockets, signals, other
// users, and the refusals of the command line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "morvi/testing/scratch_dir.hpp"
#include "wire_client.hpp"

namespace morvi::service::server {
namespace {

namespace fs = std::filesystem;
using testing::SocketDir;
using testing::WireClient;

// A child running the morvi tool, its standard output and error read through pipes.
class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      std::vector<char*> argv{const_cast<char*>(MORVI_EXE)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(MORVI_EXE, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
    if (pidfd_ >= 0) ::close(pidfd_);
  }

  // The next line of standard output; empty at its end. At most 20 s.
  std::string line() {
    std::string text;
    char c;
    while (wait_readable(out_) && ::read(out_, &c, 1) == 1 && c != '\n') text += c;
    return text;
  }
  // Everything the child wrote to standard error, once it closed it.
  std::string errors() {
    std::string text;
    char chunk[4096];
    ssize_t n;
    while (wait_readable(err_) && (n = ::read(err_, chunk, sizeof chunk)) > 0) text.append(chunk, n);
    return text;
  }
  void signal(int number) { ::kill(pid_, number); }
  // The exit status; -1 when the child did not end within 20 s or ended on a signal.
  int exit_status() {
    pollfd p{pidfd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) != 1) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  static bool wait_readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 20000) == 1;
  }
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1, pidfd_ = -1;
};

std::vector<std::string> serve(const std::string& socket, const fs::path& journal) {
  return {"serve", "--socket", socket, "--journal", journal.string()};
}

// A socket file nobody listens on, as a server killed outright leaves it.
void make_stale_socket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST(ServeProcess, TakesOverAStaleSocketRefusesALiveOneAndRemovesItsOwnOnSignals) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  const std::string socket = sockets / "s";
  for (const int sig : {SIGTERM, SIGINT}) {
    make_stale_socket(socket);
    Child server(serve(socket, scratch / ("j" + std::to_string(sig))));
    ASSERT_EQ(server.line(), "listening on " + socket);
    struct stat info {};
    ASSERT_EQ(::stat(socket.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    Child second(serve(socket, scratch / "other"));
    EXPECT_EQ(second.exit_status(), 1);
    EXPECT_NE(second.errors().find("already listening on '" + socket + "'"), std::string::npos);
    WireClient reader(socket);
    EXPECT_EQ(reader.hello("reader")["ok"], true);

    server.signal(sig);
    EXPECT_EQ(server.exit_status(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(socket))) << "signal " << sig;
    EXPECT_EQ(reader.read_line(), std::nullopt);
  }
}

TEST(ServeProcess, AnotherUserCannotConnect) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  const std::string socket = sockets / "s";
  // The folder is open to all, so only the socket's own mode keeps others out.
  fs::permissions(fs::path(socket).parent_path(), fs::perms::all);
  Child server(serve(socket, scratch / "j"));
  ASSERT_EQ(server.line(), "listening on " + socket);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(100);
    int fd = -1;
    ::_exit(testing::connect_to(socket, fd) == EACCES ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other user's connect was not refused with EACCES";
  WireClient own(socket);
  EXPECT_EQ(own.hello("reader")["ok"], true);
}

TEST(ServeProcess, RefusesWhatItMustNotTouch) {
  morvi::testing::ScratchDir scratch;
  SocketDir sockets;
  {
    // A file that is not a socket stays as it is.
    const std::string path = sockets / "plain";
    std::ofstream(path) << "keep me";
    Child server(serve(path, scratch / "j1"));
    EXPECT_EQ(server.exit_status(), 1);
    EXPECT_NE(server.errors().find("is not a socket"), std::string::npos);
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
  }
  {
    // A journal that holds a job already is not appended to.
    const fs::path journal = scratch / "old.journal";
    std::ofstream(journal) << "{\"format\":\"morvi-events\",\"version\":1}\n";
    Child server(serve(sockets / "s", journal));
    EXPECT_EQ(server.exit_status(), 1);
    EXPECT_NE(server.errors().find("already holds events"), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sockets / "s")));
  }
  {
    // A journal that is a folder or a FIFO is refused as one: opening a FIFO to write would
    // wait for a reader that never comes, before the server listens.
    const fs::path folder = scratch / "folder.journal";
    fs::create_directory(folder);
    const fs::path fifo = scratch / "fifo.journal";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& journal : {folder, fifo}) {
      Child server(serve(sockets / "s", journal));
      EXPECT_EQ(server.exit_status(), 1) << journal;
      EXPECT_NE(server.errors().find("the journal '" + journal.string() + "' is not a file"),
                std::string::npos)
          << server.errors();
      EXPECT_FALSE(fs::exists(fs::symlink_status(sockets / "s")));
    }
  }
  {
    Child server({"serve", "--journal", (scratch / "j2").string()});
    EXPECT_EQ(server.exit_status(), 2);
    EXPECT_NE(server.errors().find("--socket"), std::string::npos);
  }
  {
    Child server({"serve", "--socket", sockets / "s", "--journal", (scratch / "j3").string(),
                  "--fsync", "sometimes"});
    EXPECT_EQ(server.exit_status(), 2);
  }
}

}  // namespace
}  // namespace morvi::service::server
