// startcfg.aut on disk under Wine: reading and saving as the settings window does, with
// missing, LF-only, long, foreign, gappy and marker-only files, and failed writes.
#include "core/globals_win.h"
#include "core/log.h"
#include "gameconfig/startcfg_file_win.h"
#include "tests/win/win_test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

class StartCfgFile : public ::testing::Test {
 protected:
  void SetUp() override {
    g_exeDir = MakeTestFolder("startcfg");
    OpenTestLog(g_exeDir);
  }
  void TearDown() override { CloseLog(); }

  std::string Path() const { return g_exeDir + "startcfg.aut"; }

  // Reads the file afresh, sets the three choices and writes, as the settings Save does.
  bool Save(const char* vsync, const char* aa, const char* filtering) {
    std::string values[kCfgValueCount];
    ReadStartCfg(values);
    values[kCfgVsync] = vsync;
    values[kCfgAntiAliasing] = aa;
    values[kCfgFiltering] = filtering;
    return WriteStartCfg(values);
  }

  // The file's lines; every line must end in CR LF.
  std::vector<std::string> Lines() const {
    std::string content = ReadFileOrEmpty(Path());
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < content.size()) {
      size_t end = content.find("\r\n", pos);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CR LF";
        break;
      }
      lines.push_back(content.substr(pos, end - pos));
      pos = end + 2;
    }
    return lines;
  }
};

std::string NumberedFile(int lineCount, const char* lineEnd) {
  std::string text = std::string("VERSION5") + lineEnd;
  for (int line = 2; line <= lineCount; line++) text += "line" + std::to_string(line) + lineEnd;
  return text;
}

TEST_F(StartCfgFile, MissingFileReadsDefaultsAndSavesThirtyOneLines) {
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  EXPECT_TRUE(g_cfgLines.empty());
  EXPECT_EQ(values[kCfgAntiAliasing], "2");
  ASSERT_TRUE(Save("3", "1", "2"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 31u);
  EXPECT_EQ(lines[0], "VERSION5");
  const char* const expected[] = {"-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", "3", "1", "2"};
  for (int k = 0; k < kCfgValueCount; k++) {
    EXPECT_EQ(lines[2 * k + 1], kCfgLabels[k]);
    EXPECT_EQ(lines[2 * k + 2], expected[k]) << "value " << k;
  }
  EXPECT_FALSE(FileExists(Path() + ".new"));
}

TEST_F(StartCfgFile, LfOnlyFileIsReadAndWrittenBackWithCrLf) {
  WriteTestFile(Path(), NumberedFile(31, "\n"));
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  EXPECT_EQ(values[0], "line3");
  EXPECT_EQ(values[14], "line31");
  ASSERT_TRUE(WriteStartCfg(values));
  EXPECT_EQ(ReadFileOrEmpty(Path()), NumberedFile(31, "\r\n"));
}

TEST_F(StartCfgFile, FortyLineFileKeepsItsLabelsAndLinesPastThirtyOne) {
  WriteTestFile(Path(), NumberedFile(40, "\r\n"));
  ASSERT_TRUE(Save("4", "3", "4"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 40u);
  for (int line = 2; line <= 40; line++) {
    if (line == 27 || line == 29 || line == 31) continue;
    EXPECT_EQ(lines[line - 1], "line" + std::to_string(line));
  }
  EXPECT_EQ(lines[26], "4");
  EXPECT_EQ(lines[28], "3");
  EXPECT_EQ(lines[30], "4");
}

TEST_F(StartCfgFile, OtherMarkerReadsDefaultsAndIsReplacedWhole) {
  WriteTestFile(Path(), "VERSION4\r\nWidth\r\n640\r\nold line\r\n");
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  EXPECT_TRUE(g_cfgLines.empty());
  EXPECT_EQ(values[0], "-1");
  ASSERT_TRUE(Save("1", "2", "4"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 31u);
  EXPECT_EQ(lines[1], kCfgLabels[0]);
  EXPECT_EQ(lines[2], "-1");
}

TEST_F(StartCfgFile, EmptyValueLineReadsAndSavesAsTheDefault) {
  std::string text = NumberedFile(31, "\r\n");
  text.replace(text.find("line13\r\n"), 8, "\r\n");  // value 5
  WriteTestFile(Path(), text);
  std::string values[kCfgValueCount];
  ReadStartCfg(values);
  EXPECT_EQ(values[5], "200");
  ASSERT_TRUE(WriteStartCfg(values));
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[12], "200");
  EXPECT_EQ(lines[11], "line12");
}

TEST_F(StartCfgFile, MarkerOnlyFileGainsThirtyLines) {
  WriteTestFile(Path(), "VERSION5\r\n");
  ASSERT_TRUE(Save("0", "0", "0"));
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 31u);
  EXPECT_EQ(lines[29], kCfgLabels[14]);
  EXPECT_EQ(lines[30], "0");
}

TEST_F(StartCfgFile, ReadOnlyFileIsStillReplaced) {
  WriteTestFile(Path(), "VERSION5\r\n");
  ASSERT_TRUE(SetFileAttributesA(Path().c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(Save("5", "3", "4"));
  EXPECT_EQ(Lines()[26], "5");
}

TEST_F(StartCfgFile, UnwritableNewFileFailsAndIsLogged) {
  WriteTestFile(Path(), "VERSION5\r\n");
  ASSERT_TRUE(CreateDirectoryA((Path() + ".new").c_str(), nullptr));
  EXPECT_FALSE(Save("5", "3", "4"));
  EXPECT_EQ(ReadFileOrEmpty(Path()), "VERSION5\r\n");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Cannot write " + Path() + ".new"});
}

TEST_F(StartCfgFile, FailedReplaceFailsAndLeavesTheNewFile) {
  ASSERT_TRUE(CreateDirectoryA(Path().c_str(), nullptr));
  EXPECT_FALSE(Save("5", "3", "4"));
  EXPECT_TRUE(FileExists(Path() + ".new"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Cannot replace startcfg.aut (error ", 0), 0u) << lines[0];
}

}  // namespace
