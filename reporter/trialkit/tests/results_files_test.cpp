// results.json and results.yaml on disk: a file is replaced whole or not at all, whatever
// fails (a full disk mid-document or at its last piece, a folder that takes no file), and a
// written file holds exactly the text the writer returns.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include "morvi/reporter/trialkit/json.hpp"
#include "morvi/reporter/trialkit/yaml.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::reporter::trialkit {
namespace {

namespace fs = std::filesystem;

struct Writer {
  const char* label;
  const char* name;  // the results file it writes
  std::string (*text)(const Value&);
  void (*file)(const Value&, const std::string&);
};

void PrintTo(const Writer& w, std::ostream* os) { *os << w.name; }

const Writer kWriters[] = {
    {"Json", "results.json", JSONDumper::encode, JSONDumper::encode_file},
    {"Yaml", "results.yaml", YAMLDumper::dump, YAMLDumper::dump_file},
};

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

// A list of `items` maps of a 64-character text: about 80 bytes each in either form.
Value document_of(int items) {
  List list;
  for (int i = 0; i < items; ++i) list.push_back(Value(Map{{"text", Value(std::string(64, 'a' + i % 26))}, {"n", Value(i)}}));
  return Value(std::move(list));
}

class ResultsFile : public ::testing::TestWithParam<Writer> {};

// Several pieces of a mebibyte and a short last one reach the file in order, none lost.
TEST_P(ResultsFile, HoldsTheTextTheWriterReturns) {
  const testing::ScratchDir dir;
  const fs::path path = dir / GetParam().name;
  const Value document = document_of(40'000);
  GetParam().file(document, path.string());
  const std::string text = GetParam().text(document);
  ASSERT_GT(text.size(), std::size_t{3} << 20);
  EXPECT_EQ(read(path), text);
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{GetParam().name});
}

// The disk fills (a file-size limit in a child process) while the pieces go out, or at the
// last one: the writer reports the system's reason, the older file is as it was and no
// temporary file is left.
TEST_P(ResultsFile, AFullDiskKeepsTheOlderFile) {
  const testing::ScratchDir dir;
  const fs::path path = dir / GetParam().name;
  std::ofstream(path) << "older";
  for (const int items : {40'000, 2'000}) {
    const Value document = document_of(items);
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{64 << 10, 64 << 10};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      try {
        GetParam().file(document, path.string());
      } catch (const std::system_error& e) {
        ::_exit(e.code().value() == EFBIG ? 0 : 2);
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << items << " items; 1: no failure, 2: another error, 3: not a system error";
    EXPECT_EQ(read(path), "older");
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{GetParam().name});
  }
}

// Makes a folder take no new file, for root too (which permission bits do not stop): the
// immutable flag where the file system has one. Undone when it goes.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(const fs::path& folder) : folder_(folder) {
    if (::geteuid() != 0) {
      made_ = ::chmod(folder.c_str(), 0555) == 0;
      return;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      made_ = immutable_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) ::close(fd);
  }
  ~UnwritableFolder() {
    if (!made_) return;
    if (!immutable_) {
      ::chmod(folder_.c_str(), 0755);
      return;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
  }
  UnwritableFolder(const UnwritableFolder&) = delete;
  UnwritableFolder& operator=(const UnwritableFolder&) = delete;
  bool made() const noexcept { return made_; }

 private:
  fs::path folder_;
  bool made_ = false;
  bool immutable_ = false;
};

TEST_P(ResultsFile, AFolderThatTakesNoFileKeepsTheOlderFile) {
  const testing::ScratchDir dir;
  const fs::path path = dir / GetParam().name;
  std::ofstream(path) << "older";
  {
    const UnwritableFolder locked(dir.path());
    if (!locked.made()) GTEST_SKIP() << "this file system cannot make the folder read-only";
    try {
      GetParam().file(document_of(10), path.string());
      ADD_FAILURE() << "the write must fail";
    } catch (const std::system_error& e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(read(path), "older");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{GetParam().name});

  fs::create_directory(dir / "plain");
  std::ofstream(dir / "plain" / "file") << "x";
  EXPECT_THROW(GetParam().file(document_of(10), (dir / "plain" / "file" / GetParam().name).string()), std::system_error);
  EXPECT_EQ(names_in(dir / "plain"), std::set<std::string>{"file"});
}

// The temporary file of a writer that was killed is cleared by the next write; a writer's
// own temporary never takes the fixed name another writer of the same file would use.
TEST_P(ResultsFile, ClearsTheTemporaryOfAKilledWriter) {
  const testing::ScratchDir dir;
  const fs::path path = dir / GetParam().name;
  const pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  int status = 0;
  ::waitpid(dead, &status, 0);
  const std::string leftover = std::string(GetParam().name) + ".tmp." + std::to_string(dead) + ".0";
  std::ofstream(dir / leftover) << "half a document";
  std::ofstream(dir / (std::string(GetParam().name) + ".tmp")) << "someone else's";
  GetParam().file(document_of(3), path.string());
  EXPECT_EQ(read(path), GetParam().text(document_of(3)));
  EXPECT_EQ(read(dir / (std::string(GetParam().name) + ".tmp")), "someone else's");
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{GetParam().name, std::string(GetParam().name) + ".tmp"}));
}

INSTANTIATE_TEST_SUITE_P(BothWriters, ResultsFile, ::testing::ValuesIn(kWriters),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvi::reporter::trialkit
