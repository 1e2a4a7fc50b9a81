#pragma once
// Runs a test program as a child process, with extra environment entries, its output kept in
// files beside the run; bounded by a time limit so that no run can hang the test.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "morvi/testing/files.hpp"

namespace morvi::service::gtest_listener::testing {

struct ProgramRun {
  int status = -1;  // exit status; 128 + signal when killed by one
  std::string out;
  std::string err;
};

// `environment` entries "NAME=VALUE" are added to this process's environment (replacing a
// variable of the same name).
inline ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                              const std::vector<std::string>& environment,
                              const std::filesystem::path& scratch) {
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& added : environment) {
      if (text.substr(0, text.find('=') + 1) == added.substr(0, added.find('=') + 1)) replaced = true;
    }
    if (!replaced) env_text.push_back(text);
  }
  env_text.insert(env_text.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const std::string out_path = (scratch / "child.out").string();
  const std::string err_path = (scratch / "child.err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ProgramRun run;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      ADD_FAILURE() << program << " did not end within 120 s";
      break;
    }
    ::usleep(2000);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = morvi::testing::file_text(out_path);
  run.err = morvi::testing::file_text(err_path);
  return run;
}

// What the Python `oracle` script (json, PyYAML and junitparser) makes of the documents in
// `out`, as the JSON it prints.
inline nlohmann::json documents_oracle(const std::string& oracle, const std::filesystem::path& out,
                                       const std::filesystem::path& scratch) {
  const std::filesystem::path printed = scratch / "oracle.json";
  const std::string command = "/usr/bin/python3 '" + oracle + "' '" + out.string() + "' > '" +
                              printed.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return nlohmann::json::parse(morvi::testing::file_text(printed));
}

}  // namespace morvi::service::gtest_listener::testing
