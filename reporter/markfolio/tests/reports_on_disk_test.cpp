// The report files on disk: a writer killed at any point leaves the old report or the new one,
// whole; a full disk, links and an empty logs folder name are handled without losing data.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "support.hpp"

namespace morvi::reporter::markfolio {
namespace {

namespace fs = std::filesystem;

// A job of `steps` steps whose texts carry `mark`.
std::shared_ptr<trialkit::TrialKit> job_of(int steps, const std::string& mark) {
  auto job = trialkit::TrialKit::create("job-" + mark, 1);
  job->start({{"name", mark}});
  auto task = job->add_task("t1", 1);
  task->start();
  auto section = task->add_section("tc1", 1, "TestCase")->add_section("test", 1, "TestSection");
  for (int i = 0; i < steps; ++i) {
    auto step = section->add_section("step" + std::to_string(i), 1, "Step");
    step->start({{"description", mark + std::string(200, 'd')}});
    step->stop({{"result", results::Passed}});
  }
  section->stop();
  task->stop();
  job->stop({{"num_tasks", 1}});
  return job;
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

class ReportsOnDiskTest : public ::testing::Test {
 protected:
  test::TickingClock clock;
  test::TempDir dir;
};

// The writer runs in a child that is killed at random points (after a random number of
// completed writes and a random amount of work into the next one). After every kill each
// report is absent (before the first write) or one of the two complete versions.
TEST_F(ReportsOnDiskTest, AWriterKilledAnywhereLeavesTheOldOrTheNewReportWhole) {
  const auto first = job_of(300, "first");
  const auto second = job_of(600, "second");
  std::set<std::string> whole[2];
  for (const auto& job : {first, second}) {
    MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
    whole[0].insert(morvi::testing::file_text(dir / "ResultsDetails.xml"));
    whole[1].insert(morvi::testing::file_text(dir / "ResultsSummary.xml"));
  }
  ASSERT_EQ(whole[0].size(), 2u);
  fs::remove(dir / "ResultsDetails.xml");
  fs::remove(dir / "ResultsSummary.xml");

  std::mt19937 random(11);
  int killed_mid_write = 0;
  for (int round = 0; round < 24; ++round) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::close(pipe_fds[0]);
      for (int i = 0; i < 10000; ++i) {
        MarkFolio(dir.str(), *(i % 2 ? second : first)).generate_xml(Value(), Value());
        const char done = 'w';
        if (::write(pipe_fds[1], &done, 1) != 1) ::_exit(1);
      }
      ::_exit(0);
    }
    ::close(pipe_fds[1]);
    const int completed = std::uniform_int_distribution<int>(0, 2)(random);
    char done = 0;
    for (int i = 0; i < completed; ++i) ASSERT_EQ(::read(pipe_fds[0], &done, 1), 1);
    // Work of random length instead of a pause: the kill lands anywhere in the next write.
    volatile unsigned spin = 0;
    for (unsigned i = std::uniform_int_distribution<unsigned>(0, 3000000)(random); i > 0; --i) spin = spin + 1;
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(pipe_fds[0]);
    int index = 0;
    for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"}) {
      if (fs::exists(dir / name)) {
        EXPECT_EQ(whole[index].count(morvi::testing::file_text(dir / name)), 1u) << name << ", round " << round;
      }
      ++index;
    }
    for (const std::string& name : names_in(dir.path())) killed_mid_write += name.find(".tmp.") != std::string::npos;
  }
  EXPECT_FALSE(fs::exists(dir / "xml_rough_string"));
  // The next writer clears what the killed ones left beside the reports.
  MarkFolio(dir.str(), *first).generate_xml(Value(), Value());
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"ResultsDetails.xml", "ResultsSummary.xml"}));
  RecordProperty("killed_mid_write", killed_mid_write);
}

// A full disk, as a file-size limit in a child: the details and then the fallback fail, the
// error names both, and the earlier reports stay whole with no temporary file left.
TEST_F(ReportsOnDiskTest, AFullDiskReportsBothErrorsAndKeepsTheEarlierReports) {
  const auto job = job_of(50, "full");
  MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
  const std::string details = morvi::testing::file_text(dir / "ResultsDetails.xml");
  const std::string summary = morvi::testing::file_text(dir / "ResultsSummary.xml");
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2048, 2048};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string message = "(no error)";
    try {
      MarkFolio(dir.str(), *job).generate_xml(Value(), Value());
    } catch (const std::system_error& e) {
      message = e.what();
    } catch (const std::exception& e) {
      message = std::string("(not a system error) ") + e.what();
    }
    const bool sent = ::write(pipe_fds[1], message.data(), message.size()) ==
                      static_cast<ssize_t>(message.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string message;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const std::string too_large = std::make_error_code(std::errc::file_too_large).message();
  EXPECT_NE(message.find("ResultsDetails.xml: " + too_large), std::string::npos) << message;
  EXPECT_NE(message.find("xml_rough_string: " + too_large), std::string::npos) << message;
  EXPECT_EQ(morvi::testing::file_text(dir / "ResultsDetails.xml"), details);
  EXPECT_EQ(morvi::testing::file_text(dir / "ResultsSummary.xml"), summary);
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"ResultsDetails.xml", "ResultsSummary.xml"}));
}

// The fallback never writes through a link: a link at its name is replaced by the file, and
// what it pointed to keeps its content.
TEST_F(ReportsOnDiskTest, TheFallbackReplacesALinkInsteadOfWritingThroughIt) {
  const auto job = job_of(2, "link");
  fs::create_directory(dir / "ResultsDetails.xml");  // the details cannot be written
  const fs::path elsewhere = dir / "elsewhere";
  fs::create_directory(elsewhere);
  std::ofstream(elsewhere / "precious") << "keep me";
  fs::create_symlink(elsewhere / "precious", dir / "xml_rough_string");
  MarkFolio folio(dir.str(), *job);
  EXPECT_THROW(folio.generate_xml(Value(), Value()), std::system_error);
  EXPECT_FALSE(fs::is_symlink(dir / "xml_rough_string"));
  EXPECT_EQ(morvi::testing::file_text(dir / "xml_rough_string"),
            zorbel::xml::to_bytes(folio.zorbel.generate_dom()).view());
  EXPECT_EQ(morvi::testing::file_text(elsewhere / "precious"), "keep me");
}

// Linked reports are followed: the files they point to get the new reports, with the
// permissions they had.
TEST_F(ReportsOnDiskTest, LinkedReportsReplaceTheFilesTheyPointToKeepingTheirMode) {
  const fs::path elsewhere = dir / "elsewhere";
  fs::create_directory(elsewhere);
  for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"}) {
    std::ofstream(elsewhere / name) << "old";
    ::chmod((elsewhere / name).c_str(), 0604);
    fs::create_symlink(elsewhere / name, dir / name);
  }
  MarkFolio(dir.str(), *job_of(1, "linked")).generate_xml(Value(), Value());
  for (const char* name : {"ResultsDetails.xml", "ResultsSummary.xml"}) {
    EXPECT_TRUE(fs::is_symlink(dir / name));
    EXPECT_EQ(morvi::testing::file_text(elsewhere / name).rfind("<?xml version=\"1.0\"?>\n", 0), 0u);
    EXPECT_EQ(fs::status(elsewhere / name).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  }
}

TEST_F(ReportsOnDiskTest, AnEmptyLogsFolderIsRefused) {
  try {
    MarkFolio("", *job_of(1, "empty")).generate_xml(Value(), Value());
    FAIL() << "an empty logsdir must be refused";
  } catch (const ArgumentError& e) {
    EXPECT_NE(std::string(e.what()).find("logsdir"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace morvi::reporter::markfolio
