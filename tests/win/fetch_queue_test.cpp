// The fetch queue against real servers (kmtest/scenario.py, started by the test runner): the
// mirror rule, the content server's retries, the patch's fallback to the whole file, and
// outcomes with their log lines in the list's order while later files run ahead.
#include "core/globals_win.h"
#include "core/log.h"
#include "update/fetch_queue_win.h"
#include "update/file_state_win.h"
#include "update/part_file_win.h"
#include "update/http_win.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {
std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

// The control server's answer to what (a path with its query).
std::string Control(const std::string& what) {
  std::string answer;
  EXPECT_TRUE(HttpGetText(Environment("KM_TEST_CONTROL") + what, answer)) << what;
  return answer;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// How many GET requests at ("server" or "mirror") asked for exactly path.
size_t RequestsFor(const std::string& at, const std::string& path) {
  size_t count = 0;
  for (const std::string& line : SplitLines(Control("/requests?at=" + at))) {
    if (line.substr(0, line.find(' ')) == path) count++;
  }
  return count;
}

// The position of the first log line that starts with prefix, or the number of lines.
size_t LogPosition(const std::vector<std::string>& lines, const std::string& prefix) {
  auto found = std::find_if(lines.begin(), lines.end(),
                            [&prefix](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; });
  return static_cast<size_t>(found - lines.begin());
}

bool Logged(const std::string& prefix) {
  std::vector<std::string> lines = LogLines();
  return LogPosition(lines, prefix) < lines.size();
}
}  // namespace

class FetchQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_net) OpenInternet();
    context.gameFolder = MakeTestFolder("fetchqueue");
    context.filesBase = Environment("KM_TEST_FILES");
    context.pipelines = ConnectsDirectly();
    ASSERT_FALSE(context.filesBase.empty()) << "run through kmtest.run_win, which starts the servers";
    OpenTestLog(context.gameFolder);
    Control("/reset");
  }

  void UseMirror() { context.mirror = Environment("KM_TEST_MIRROR"); }

  // Adds a file of size bytes at ("server", "mirror" or "both") and to the update list.
  void AddFile(const std::string& name, uint64_t size, const std::string& at = "both") {
    std::istringstream answer(Control("/file?name=" + name + "&size=" + std::to_string(size) + "&at=" + at));
    RemoteFile file;
    file.path = name;
    answer >> std::hex >> file.crc >> std::dec >> file.size;
    files.push_back(file);
    updates.push_back(updates.size());
  }

  // Fetches every entry in order as the pass does, moving each verified one into place, and
  // logs "outcome K: RESULT" after each.
  std::vector<DownloadResult> FetchAll() {
    std::vector<DownloadResult> outcomes;
    FetchQueue queue(context, files, updates);
    for (size_t k = 0; k < updates.size(); k++) {
      DownloadProgress progress{0, 0, int(k + 1), int(updates.size()), nullptr};
      outcomes.push_back(queue.Fetch(k, progress));
      if (outcomes.back() == kDownloadOk) {
        EXPECT_TRUE(queue.MoveIntoPlace(k)) << files[k].path;
      }
      LogLine("outcome %u: %d", unsigned(k), int(outcomes.back()));
    }
    return outcomes;
  }

  void ExpectInPlace(const RemoteFile& file) {
    uint64_t size = 0, mtime = 0;
    EXPECT_TRUE(FileInfo(context.LocalPath(file), size, mtime) && size == file.size) << file.path;
    EXPECT_FALSE(FileExists(context.PartPath(file))) << file.path;
  }

  FetchContext context;
  std::vector<RemoteFile> files;
  std::vector<size_t> updates;
};

TEST_F(FetchQueueTest, AMirrorThatDeliversSuppliesEveryFileAndTheServerIsNotAsked) {
  UseMirror();
  for (int i = 0; i < 12; i++) AddFile("f" + std::to_string(i), 4096 + i);
  std::vector<DownloadResult> outcomes = FetchAll();
  EXPECT_EQ(outcomes, std::vector<DownloadResult>(12, kDownloadOk));
  for (const RemoteFile& file : files) {
    ExpectInPlace(file);
    EXPECT_EQ(RequestsFor("mirror", "/m/" + file.path), 1u) << file.path;
  }
  EXPECT_EQ(Control("/requests?at=server"), "");
}

TEST_F(FetchQueueTest, TheMirrorIsTurnedOffByThreeFailuresInARowAndAFileItSuppliesCountsAgain) {
  UseMirror();
  const std::string onMirror = "f2 f6 f7";
  for (int i = 0; i < 8; i++) {
    std::string name = "f" + std::to_string(i);
    AddFile(name, 3000, onMirror.find(name) == std::string::npos ? "server" : "both");
  }
  EXPECT_EQ(FetchAll(), std::vector<DownloadResult>(8, kDownloadOk));
  // A file the mirror does not have is asked for twice there, then from the content server.
  for (const char* name : {"f0", "f1", "f3", "f4", "f5"}) {
    EXPECT_EQ(RequestsFor("mirror", std::string("/m/") + name), 2u) << name;
    EXPECT_EQ(RequestsFor("server", std::string("/files/") + name), 1u) << name;
  }
  EXPECT_EQ(RequestsFor("server", "/files/f2"), 0u);
  EXPECT_TRUE(Logged("Mirror could not supply f1 - using the content server"));
  EXPECT_FALSE(Logged("Mirror could not supply f1 - using the content server (mirror turned off"));
  EXPECT_TRUE(Logged("Mirror could not supply f5 - using the content server (mirror turned off for this run)"));
  for (const char* name : {"f6", "f7"}) {
    EXPECT_EQ(RequestsFor("mirror", std::string("/m/") + name), 0u) << name;
    EXPECT_EQ(RequestsFor("server", std::string("/files/") + name), 1u) << name;
  }
  for (const RemoteFile& file : files) ExpectInPlace(file);
}

TEST_F(FetchQueueTest, AWrongFileFromTheMirrorIsNotAskedForAgainThere) {
  UseMirror();
  AddFile("wrong.bin", 50000);
  Control("/rule?at=mirror&name=wrong.bin&wrong=1");
  EXPECT_EQ(FetchAll(), std::vector<DownloadResult>{kDownloadOk});
  EXPECT_EQ(RequestsFor("mirror", "/m/wrong.bin"), 1u);
  EXPECT_EQ(RequestsFor("server", "/files/wrong.bin"), 1u);
  EXPECT_TRUE(Logged("CRC mismatch on wrong.bin"));
  ExpectInPlace(files[0]);
}

TEST_F(FetchQueueTest, TheContentServerIsAskedThreeTimesBeforeAFileFails) {
  AddFile("twice.bin", 2000);
  AddFile("never.bin", 2000);
  Control("/rule?name=twice.bin&status=500&status_times=2");
  Control("/rule?name=never.bin&status=503");
  EXPECT_EQ(FetchAll(), (std::vector<DownloadResult>{kDownloadOk, kDownloadFailed}));
  EXPECT_EQ(RequestsFor("server", "/files/twice.bin"), 3u);
  EXPECT_EQ(RequestsFor("server", "/files/never.bin"), 3u);
  std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Retrying twice.bin"), 2);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Retrying never.bin"), 2);
  ExpectInPlace(files[0]);
  EXPECT_FALSE(FileExists(context.LocalPath(files[1])));
}

TEST_F(FetchQueueTest, APatchWhoseBlockMapIsMissingEverywhereFallsBackToTheWholeFile) {
  UseMirror();
  AddFile("big.pak", 300000);
  files[0].hasBlockMap = true;
  WriteTestFile(context.LocalPath(files[0]), "an old version of big.pak");
  EXPECT_EQ(FetchAll(), std::vector<DownloadResult>{kDownloadOk});
  EXPECT_EQ(RequestsFor("mirror", "/m/big.pak.kmmap"), 1u);
  EXPECT_EQ(RequestsFor("server", "/files/big.pak.kmmap"), 1u);
  EXPECT_TRUE(Logged("Downloading big.pak whole"));
  ExpectInPlace(files[0]);
}

TEST_F(FetchQueueTest, OutcomesAndTheirLogLinesComeInTheListsOrderWhileLaterFilesRunAhead) {
  for (int i = 0; i < 24; i++) AddFile("f" + std::to_string(i), i == 5 ? 2u << 20 : 1500);
  Control("/rule?name=f0&answer_after=1.0");
  Control("/rule?name=f13&status=500&status_times=1");
  EXPECT_EQ(FetchAll(), std::vector<DownloadResult>(24, kDownloadOk));
  EXPECT_GE(std::stoi(Control("/in_flight?at=server")), 2) << "nothing ran ahead of the slow first file";
  std::vector<std::string> lines = LogLines();
  size_t failure = LogPosition(lines, "Server answered 500 for f13");
  ASSERT_LT(failure, lines.size());
  EXPECT_LT(LogPosition(lines, "outcome 12: 0"), failure);
  EXPECT_LT(failure, LogPosition(lines, "Retrying f13"));
  EXPECT_LT(LogPosition(lines, "Retrying f13"), LogPosition(lines, "outcome 13: 0"));
  for (const RemoteFile& file : files) ExpectInPlace(file);
}

TEST_F(FetchQueueTest, ASmallFilesPartFileLeftByAnEarlierPassIsResumedFromItsSize) {
  for (int i = 0; i < 10; i++) AddFile("sub/f" + std::to_string(i), 3000);
  std::string whole;
  ASSERT_TRUE(HttpGetText(context.FileUrl(files[4], Source::ContentServer), whole));
  CreateParentFolders(context.PartPath(files[4]));
  WriteTestFile(context.PartPath(files[4]), whole.substr(0, 1000));
  EXPECT_EQ(FetchAll(), std::vector<DownloadResult>(10, kDownloadOk));
  std::vector<std::string> asked = SplitLines(Control("/requests?at=server"));
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "/files/sub/f4 bytes=1000-"), 1) << Control("/requests?at=server");
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "/files/sub/f4 "), 1);  // this test's own request
  for (const RemoteFile& file : files) ExpectInPlace(file);
}
