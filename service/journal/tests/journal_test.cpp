// Jobs recorded into journals and replayed, against the same job built in process; journals
// cut short as a crash leaves them; journals that are not.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../../protocol/tests/recorded_job.hpp"
#include "morvi/errors.hpp"
#include "morvi/reporter/markfolio.hpp"
#include "morvi/reporter/schema/fast_check.hpp"
#include "morvi/service/journal/journal.hpp"
#include "morvi/service/protocol/protocol.hpp"
#include "morvi/testing/scratch_dir.hpp"

namespace morvi::service::journal {
namespace {

namespace fs = std::filesystem;
using reporter::trialkit::TrialKit;

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_text(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The four documents of a tree, by name.
std::map<std::string, std::string> documents(const TrialKit& job, const fs::path& dir) {
  fs::create_directories(dir);
  reporter::markfolio::MarkFolio(dir.string(), job).generate_xml({}, {});
  return {{"json", job.dump_json()},
          {"yaml", job.dump_yaml()},
          {"details", slurp(dir / "ResultsDetails.xml")},
          {"summary", slurp(dir / "ResultsSummary.xml")}};
}

fs::path record(const fs::path& dir, FsyncPolicy policy) {
  const fs::path journal = dir / "events.journal";
  fs::remove(journal);
  auto writer = std::make_shared<JournalWriter>(journal.string(), policy);
  utils::ScopedClock clock(testing_jobs::ticking_clock());
  auto job = protocol::RecordingTrialKit::create(writer, Value("job"), Value(1));
  testing_jobs::drive(*job, dir);
  return journal;
}

TEST(Journal, ReplayGivesTheDocumentsOfTheJobBuiltInProcess) {
  morvi::testing::ScratchDir scratch;
  std::shared_ptr<TrialKit> direct;
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    direct = TrialKit::create(Value("job"), Value(1));
    testing_jobs::drive(*direct, scratch.path());
  }
  const auto expected = documents(*direct, scratch.path() / "direct");
  for (FsyncPolicy policy : {FsyncPolicy::never, FsyncPolicy::batch, FsyncPolicy::always}) {
    const fs::path journal = record(scratch.path(), policy);
    const std::string first_line = slurp(journal).substr(0, slurp(journal).find('\n'));
    const auto header = nlohmann::json::parse(first_line);
    EXPECT_EQ(header["format"], "morvi-events");
    EXPECT_EQ(header["version"], 1);
    Replay replayed = replay(journal.string());
    EXPECT_TRUE(replayed.warnings.empty());
    EXPECT_EQ(documents(*replayed.builder.trialkit(), scratch.path() / "replayed"), expected);
  }
}

TEST(Journal, CutAnywhereReplaysWithOneWarningAndValidDocuments) {
  morvi::testing::ScratchDir scratch;
  const std::string whole = slurp(record(scratch.path(), FsyncPolicy::never));
  // Cuts fall after the line that creates the trialkit.
  const std::size_t header_end = whole.find('\n', whole.find('\n') + 1) + 1;
  std::mt19937 random(20261208);
  std::uniform_int_distribution<std::size_t> offset(header_end + 1, whole.size() - 1);
  const fs::path cut_path = scratch.path() / "cut.journal";
  for (int round = 0; round < 40; ++round) {
    const std::size_t at = round == 0 ? whole.size() - 1 : offset(random);
    write_text(cut_path, whole.substr(0, at));
    Replay replayed = replay(cut_path.string());
    // A line that lost only its newline is whole.
    const bool torn = whole[at - 1] != '\n' && whole[at] != '\n';
    ASSERT_EQ(replayed.warnings.size(), torn ? 1u : 0u) << at;
    if (torn) {
      const std::size_t line_start = whole.rfind('\n', at - 1) + 1;
      EXPECT_NE(replayed.warnings[0].find("at byte " + std::to_string(line_start)),
                std::string::npos) << replayed.warnings[0];
    }
    auto job = replayed.builder.trialkit();
    ASSERT_TRUE(job);
    EXPECT_TRUE(reporter::schema::check_results_text(job->dump_json(), "cut").empty()) << at;
    replayed.builder.close_running("the job ended early");
    EXPECT_EQ(replayed.builder.running(), 0u);
    EXPECT_TRUE(reporter::schema::check_results_text(job->dump_json(), "closed").empty()) << at;
  }
}

TEST(Journal, BadJournalsNameTheLine) {
  morvi::testing::ScratchDir scratch;
  const std::string whole = slurp(record(scratch.path(), FsyncPolicy::never));
  const fs::path path = scratch.path() / "bad.journal";
  const std::size_t second = whole.find('\n') + 1;
  const std::size_t third = whole.find('\n', second) + 1;
  const auto expect_error = [&](const std::string& text, const std::string& where) {
    write_text(path, text);
    try {
      replay(path.string());
      ADD_FAILURE() << "replayed " << where;
    } catch (const protocol::ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(path.string() + ":" + where), std::string::npos)
          << e.what();
    }
  };
  expect_error(whole.substr(0, third) + "{\"event\": \"nonsense\"}\n" + whole.substr(third), "3");
  expect_error("{\"format\": \"other\", \"version\": 1}\n" + whole.substr(second), "1");
  expect_error("{\"format\": \"morvi-events\", \"version\": 2}\n" + whole.substr(second), "1");
  // A well-formed event the tree refuses, before the end: a second trialkit.
  expect_error(whole.substr(0, third) + whole.substr(second, third - second) + whole.substr(third),
               "3");
  // A line past the longest event is refused as it is read, not gathered without end.
  expect_error(whole.substr(0, second) + std::string(protocol::kMaxFrameSize + 2, 'x'), "2");
  EXPECT_THROW(replay((scratch.path() / "missing.journal").string()), std::system_error);
  try {
    replay("/dev/zero");
    ADD_FAILURE() << "replayed /dev/zero";
  } catch (const protocol::ProtocolError& e) {
    EXPECT_NE(std::string(e.what()).find("/dev/zero:1: the line at byte 0 is longer"), std::string::npos)
        << e.what();
  }
}

// An event that cannot be a line (nested past the limit, or longer than a reader takes) is
// refused on its own: nothing of it is written, the events after it are, and the journal
// reads back.
TEST(Journal, AnEventThatCannotBeALineIsRefusedAloneAndTheNextOnesGoIn) {
  morvi::testing::ScratchDir scratch;
  const fs::path path = scratch.path() / "refused.journal";
  {
    auto writer = std::make_shared<JournalWriter>(path.string(), FsyncPolicy::always);
    auto job = protocol::RecordingTrialKit::create(writer, Value("job"), Value(1));
    job->start();
    auto task = job->add_task(Value("t"), Value(2));
    task->start();
    const std::string huge(protocol::kMaxFrameSize, 'h');
    EXPECT_THROW(task->update(Map{{"huge", Value(huge)}}), SerializationError);
    Value deep(1);
    for (int i = 0; i <= protocol::kMaxDepth; ++i) deep = Value(Map{{"d", std::move(deep)}});
    EXPECT_THROW(task->update(Map{{"deep", deep}}), SerializationError);
    task->update(Map{{"note", Value("kept")}});
    task->stop();
    job->stop();
  }
  const std::string text = slurp(path);
  EXPECT_LT(text.size(), std::size_t{4096});
  const Replay replayed = replay(path.string());
  EXPECT_TRUE(replayed.warnings.empty());
  ASSERT_TRUE(replayed.builder.trialkit());
  EXPECT_EQ(replayed.builder.running(), 0u);
  const std::string json = replayed.builder.trialkit()->dump_json();
  EXPECT_NE(json.find("kept"), std::string::npos) << json;
  EXPECT_EQ(json.find("huge"), std::string::npos);
}

// The journal is read a few megabytes at a time: lines that cross the edge of a read, and one
// longer than a read, come back whole, and a torn last line is still found as the last.
TEST(Journal, LinesAcrossAndLongerThanOneReadReplayWhole) {
  morvi::testing::ScratchDir scratch;
  const auto drive = [](auto& job) {
    job.start();
    for (int i = 0; i < 2000; ++i) {
      auto task = job.add_task(Value("t" + std::to_string(i)), Value(i + 2));
      task->start();
      // Lines of every length up to a few kilobytes, so the reads' edges fall anywhere.
      task->update(Map{{"note", Value(std::string(static_cast<std::size_t>(i * 37 % 4001), 'n'))}});
      if (i == 1000) task->update(Map{{"huge", Value(std::string(9 << 20, 'h'))}});
      task->stop();
    }
    job.stop();
  };
  std::shared_ptr<TrialKit> direct;
  {
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    direct = TrialKit::create(Value("job"), Value(1));
    drive(*direct);
  }
  const fs::path journal = scratch.path() / "long.journal";
  {
    auto writer = std::make_shared<JournalWriter>(journal.string(), FsyncPolicy::never);
    utils::ScopedClock clock(testing_jobs::ticking_clock());
    auto job = protocol::RecordingTrialKit::create(writer, Value("job"), Value(1));
    drive(*job);
  }
  const std::string whole = slurp(journal);
  ASSERT_GT(whole.size(), std::size_t{12} << 20);
  Replay replayed = replay(journal.string());
  EXPECT_TRUE(replayed.warnings.empty());
  EXPECT_EQ(replayed.builder.trialkit()->dump_json(), direct->dump_json());

  const std::size_t last_line = whole.rfind('\n', whole.size() - 2) + 1;
  write_text(journal, whole.substr(0, whole.size() - 5));
  replayed = replay(journal.string());
  ASSERT_EQ(replayed.warnings.size(), 1u);
  EXPECT_NE(replayed.warnings[0].find("at byte " + std::to_string(last_line)), std::string::npos)
      << replayed.warnings[0];
  EXPECT_FALSE(replayed.builder.stopped(0));
}


// The lines of a journal after its header.
std::vector<std::string> event_lines(const std::string& journal) {
  std::vector<std::string> lines;
  std::size_t begin = journal.find('\n') + 1;
  while (begin < journal.size()) {
    const std::size_t end = journal.find('\n', begin);
    lines.push_back(journal.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

// A job split over two journals, as a runner leaves it when its server goes away: the second
// names its first event and may repeat events the first holds.
TEST(Journal, JournalsOfOneJobReplayAsOneWhateverTheyShare) {
  morvi::testing::ScratchDir scratch;
  const fs::path whole_path = record(scratch.path(), FsyncPolicy::never);
  const auto expected =
      documents(*replay(whole_path.string()).builder.trialkit(), scratch.path() / "whole");
  const std::vector<std::string> lines = event_lines(slurp(whole_path));
  const auto write_part = [&](const fs::path& path, std::size_t from, std::size_t to) {
    fs::remove(path);
    JournalWriter writer(path.string(), FsyncPolicy::never, from + 1);
    for (std::size_t i = from; i < to; ++i) writer.append(lines[i]);
  };
  const fs::path first = scratch.path() / "server.journal";
  const fs::path second = scratch.path() / "fallback.journal";
  const fs::path third = scratch.path() / "third.journal";
  const std::size_t n = lines.size();
  // (end of the first, start of the second): adjoining, overlapping, the second holding all.
  for (const auto& [end, start] : std::vector<std::pair<std::size_t, std::size_t>>{
           {1, 1}, {n / 2, n / 2}, {n / 2, n / 3}, {n - 1, 0}, {n, n - 1}, {n, n}}) {
    write_part(first, 0, end);
    write_part(second, start, n);
    Replay replayed = replay(std::vector<std::string>{first.string(), second.string()});
    ASSERT_TRUE(replayed.builder.trialkit()) << end << " " << start;
    EXPECT_EQ(replayed.builder.applied(), n);
    EXPECT_EQ(documents(*replayed.builder.trialkit(), scratch.path() / "parts"), expected)
        << end << " " << start;
  }
  // Three journals, the middle one wholly inside the first.
  write_part(first, 0, n / 2);
  write_part(second, n / 4, n / 3);
  write_part(third, n / 2, n);
  EXPECT_EQ(documents(*replay(std::vector<std::string>{first.string(), second.string(),
                                                       third.string()})
                           .builder.trialkit(),
                      scratch.path() / "three"),
            expected);

  const auto expect_gap = [&](const std::vector<std::string>& paths, const std::string& what) {
    try {
      replay(paths);
      ADD_FAILURE() << "replayed over a gap: " << what;
    } catch (const protocol::ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(paths.back() + ":1: the journal starts at event"),
                std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  };
  write_part(first, 0, n / 2);
  write_part(second, n / 2 + 1, n);
  expect_gap({first.string(), second.string()},
             "end at event " + std::to_string(n / 2) + "; the events between them are missing");
  expect_gap({second.string()}, "give the journals holding the events before it first");
}

TEST(Journal, HeaderNumberingItsFirstEventMustBeAPositiveWholeNumber) {
  morvi::testing::ScratchDir scratch;
  const std::string whole = slurp(record(scratch.path(), FsyncPolicy::never));
  const std::string events = whole.substr(whole.find('\n') + 1);
  const fs::path path = scratch.path() / "numbered.journal";
  for (const char* first : {"0", "-3", "1.5", "\"2\"", "null"}) {
    write_text(path, std::string("{\"format\":\"morvi-events\",\"version\":1,\"first\":") +
                         first + "}\n" + events);
    try {
      replay(path.string());
      ADD_FAILURE() << "accepted first " << first;
    } catch (const protocol::ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(path.string() + ":1: the header's 'first'"),
                std::string::npos) << e.what();
    }
  }
  write_text(path, "{\"format\":\"morvi-events\",\"version\":1,\"first\":1}\n" + events);
  EXPECT_TRUE(replay(path.string()).builder.trialkit());
}

}  // namespace
}  // namespace morvi::service::journal
