#pragma once
// Child processes for the cross-process tests: started without a shell, standard output read
// through a pipe line by line, standard error kept in a file, killed when the test is done.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace morvi::served_testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args, fs::path errors)
      : errors_(std::move(errors)) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      const int err = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out[1], 1);
      ::dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The next line of standard output; nullopt at its end or after `wait` without one.
  std::optional<std::string> line(std::chrono::milliseconds wait = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      if (const auto newline = pending_.find('\n'); newline != std::string::npos) {
        std::string text = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return text;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Every line of standard output until it ends.
  std::vector<std::string> lines() {
    std::vector<std::string> all;
    while (auto text = line()) all.push_back(*text);
    return all;
  }
  std::string errors() const { return slurp(errors_); }
  pid_t pid() const { return pid_; }
  void signal(int number) { ::kill(pid_, number); }
  // The exit status; -1 after a signal, -2 when it did not end within `wait`.
  int wait(std::chrono::milliseconds wait = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (std::chrono::steady_clock::now() > deadline) return -2;
      std::this_thread::sleep_for(2ms);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  fs::path errors_;
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// Runs a program to its end; its exit status.
inline int run(const std::string& program, const std::vector<std::string>& args,
               const fs::path& errors) {
  Process child(program, args, errors);
  child.lines();
  return child.wait();
}

}  // namespace morvi::served_testing
