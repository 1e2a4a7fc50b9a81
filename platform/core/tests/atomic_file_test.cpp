// Whole-or-nothing file replacement: permissions, links, leftovers of killed writers and
// failures that leave the target as it was.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "morvi/testing/files.hpp"
#include "morvi/testing/scratch_dir.hpp"
#include "morvi/utils/atomic_file.hpp"

namespace morvi::utils {
namespace {

using morvi::testing::file_text;

namespace fs = std::filesystem;

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

// The pid of a process that has exited and been reaped.
pid_t dead_pid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

TEST(AtomicFile, NewFilesFollowTheUmaskAndReplacedOnesKeepTheirMode) {
  morvi::testing::ScratchDir dir;
  const fs::path file = dir / "report.xml";
  const mode_t umask_now = ::umask(022);
  write_file_atomically(file, "one");
  EXPECT_EQ(mode_of(file), 0644u);
  ::chmod(file.c_str(), 0640);
  write_file_atomically(file, "two");
  ::umask(umask_now);
  EXPECT_EQ(file_text(file), "two");
  EXPECT_EQ(mode_of(file), 0640u);
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"report.xml"});
}

TEST(AtomicFile, ALinkedTargetReplacesTheFileItPointsTo) {
  morvi::testing::ScratchDir dir;
  fs::create_directory(dir / "real");
  std::ofstream(dir / "real" / "a.xml") << "old";
  fs::create_symlink("real/a.xml", dir / "a.xml");
  fs::create_symlink("a.xml", dir / "b.xml");  // a chain of two links
  write_file_atomically(dir / "b.xml", "new");
  EXPECT_TRUE(fs::is_symlink(dir / "a.xml"));
  EXPECT_TRUE(fs::is_symlink(dir / "b.xml"));
  EXPECT_EQ(file_text(dir / "real" / "a.xml"), "new");
  EXPECT_EQ(names_in(dir / "real"), std::set<std::string>{"a.xml"});

  // A link to a file not there yet creates that file.
  fs::create_symlink(dir / "real" / "c.xml", dir / "c.xml");
  write_file_atomically(dir / "c.xml", "made");
  EXPECT_EQ(file_text(dir / "real" / "c.xml"), "made");

  // A loop of links is refused by name.
  fs::create_symlink("loop2", dir / "loop1");
  fs::create_symlink("loop1", dir / "loop2");
  try {
    write_file_atomically(dir / "loop1", "x");
    FAIL() << "a loop of links must be refused";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("loop1"), std::string::npos) << e.what();
  }
}

TEST(AtomicFile, ReplacingTheLinkLeavesWhatItPointedToAlone) {
  morvi::testing::ScratchDir dir;
  std::ofstream(dir / "victim") << "precious";
  fs::create_symlink(dir / "victim", dir / "rough");
  write_file_atomically(dir / "rough", "raw bytes", LinkTarget::replace);
  EXPECT_FALSE(fs::is_symlink(dir / "rough"));
  EXPECT_EQ(file_text(dir / "rough"), "raw bytes");
  EXPECT_EQ(file_text(dir / "victim"), "precious");
}

TEST(AtomicFile, RemovesOnlyTheTemporariesOfItsTargetLeftByDeadWriters) {
  morvi::testing::ScratchDir dir;
  const std::string dead = std::to_string(dead_pid());
  const std::string self = std::to_string(::getpid());
  for (const std::string& name : std::vector<std::string>{"f.tmp." + dead + ".3", "f.tmp." + dead + ".10", "f.tmp." + self + ".999", "f.tmp.1.0",
       "g.tmp." + dead + ".0", "f.tmp." + dead + ".x", "f.tmp." + dead, "f.tmp..2",
       "ff.tmp." + dead + ".0"}) {
    std::ofstream(dir / name) << "left";
  }
  write_file_atomically(dir / "f", "content");
  EXPECT_EQ(names_in(dir.path()),
            (std::set<std::string>{"f", "f.tmp." + self + ".999", "f.tmp.1.0", "g.tmp." + dead + ".0",
                                   "f.tmp." + dead + ".x", "f.tmp." + dead, "f.tmp..2",
                                   "ff.tmp." + dead + ".0"}));
}

TEST(AtomicFile, AFailureLeavesTheTargetAsItWasAndNoTemporary) {
  morvi::testing::ScratchDir dir;
  fs::create_directory(dir / "taken");
  EXPECT_THROW(write_file_atomically(dir / "taken", "x"), std::system_error);
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"taken"});

  try {
    write_file_atomically(dir / "missing" / "f", "x");
    FAIL() << "a missing folder must fail";
  } catch (const std::system_error& e) {
    // The file the user asked for is named, not the temporary file beside it.
    EXPECT_EQ(std::string(e.what()),
              "cannot create " + (dir / "missing" / "f").string() + ": No such file or directory");
  }

  {
    AtomicFile abandoned(dir / "taken" / "f");
    abandoned.write("half");
    EXPECT_TRUE(fs::exists(abandoned.temporary()));
  }
  EXPECT_TRUE(fs::is_empty(dir / "taken"));
}

// Closed files wait for their commit holding no descriptor; one dropped uncommitted leaves
// nothing behind, even after its close.
TEST(AtomicFile, ClosedFilesAreCommittedLaterOrRemoved) {
  morvi::testing::ScratchDir dir;
  write_file_atomically(dir / "a", "old");
  const auto open_descriptors = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  const auto before = open_descriptors();
  std::vector<std::unique_ptr<AtomicFile>> files;
  for (const char* name : {"a", "b", "c"}) {
    files.push_back(std::make_unique<AtomicFile>(dir / name));
    files.back()->write(std::string("new ") + name);
    files.back()->close();
    EXPECT_THROW(files.back()->write("more"), std::system_error);
  }
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(file_text(dir / "a"), "old");
  files[0]->commit();
  files[1]->commit();
  EXPECT_THROW(files[1]->commit(), std::system_error);
  files.pop_back();
  EXPECT_EQ(file_text(dir / "a"), "new a");
  EXPECT_EQ(file_text(dir / "b"), "new b");
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"a", "b"}));
}

// A full disk, as a file-size limit in a child process: the write fails with the system's
// reason, the old content stays, and the temporary file is gone.
TEST(AtomicFile, AFullDiskKeepsTheOldContent) {
  morvi::testing::ScratchDir dir;
  const fs::path file = dir / "f";
  write_file_atomically(file, "old");
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      write_file_atomically(file, std::string(100000, 'x'));
    } catch (const std::system_error& e) {
      ::_exit(e.code().value() == EFBIG ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write did not fail, 2: another error";
  EXPECT_EQ(file_text(file), "old");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"f"});
}

}  // namespace
}  // namespace morvi::utils
