// startcfg.aut byte logic: line splitting, reading the fifteen values, and the content
// written back (unknown lines kept, unknown formats rebuilt).
#include "gameconfig/startcfg.h"

#include <gtest/gtest.h>

namespace {

struct Values {
  std::string v[kCfgValueCount];
};

Values Read(const std::string& bytes, std::vector<std::string>* linesOut = nullptr) {
  std::vector<std::string> lines = SplitCfgLines(bytes);
  Values values;
  CfgValuesFromLines(lines, values.v);
  if (linesOut) *linesOut = lines;
  return values;
}

std::vector<std::string> CrLfLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "content must end with CR LF";
    if (end == std::string::npos) break;
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// A launcher-format file of the given number of lines: label and value texts that say
// which line they are on.
std::string NumberedFile(int lineCount, const char* lineEnd) {
  std::string text = std::string(kCfgMarker) + lineEnd;
  for (int line = 2; line <= lineCount; line++) text += "line" + std::to_string(line) + lineEnd;
  return text;
}

TEST(SplitCfgLines, LineEndsOfEveryKind) {
  EXPECT_EQ(SplitCfgLines("a\r\nb\nc\r\r\n\nd"),
            (std::vector<std::string>{"a", "b", "c", "", "d"}));
  EXPECT_EQ(SplitCfgLines("a\n\n"), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitCfgLines("a\nlast\r"), (std::vector<std::string>{"a", "last\r"}));
  EXPECT_TRUE(SplitCfgLines("").empty());
  EXPECT_EQ(SplitCfgLines(std::string("x\0y\n", 4)), (std::vector<std::string>{std::string("x\0y", 3)}));
}

TEST(CfgValues, MissingFileGivesTheDefaults) {
  Values values = Read("");
  const char* const expected[] = {"-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", "1", "2", "4"};
  for (int k = 0; k < kCfgValueCount; k++) EXPECT_EQ(values.v[k], expected[k]) << "value " << k;
}

TEST(CfgValues, ValueKIsOnLine2kPlus3AndEmptyOnesKeepTheDefault) {
  std::string text = NumberedFile(31, "\n");
  text.replace(text.find("line13\n"), 7, "\n");  // value 5 empty
  std::vector<std::string> lines;
  Values values = Read(text, &lines);
  EXPECT_EQ(values.v[0], "line3");
  EXPECT_EQ(values.v[5], "200");
  EXPECT_EQ(values.v[14], "line31");
  EXPECT_EQ(lines.size(), 31u);
}

TEST(CfgValues, ShortFileKeepsDefaultsForMissingLines) {
  Values values = Read("VERSION5\r\nlabel\r\n1920\r\n");
  EXPECT_EQ(values.v[0], "1920");
  EXPECT_EQ(values.v[1], "-1");
  EXPECT_EQ(values.v[14], "4");
}

TEST(CfgValues, OtherMarkerMeansDefaultsAndNoLines) {
  for (const char* text : {"VERSION4\r\nx\r\n800\r\n", "VERSION5 \r\nx\r\n800\r\n", "version5\nx\n800\n"}) {
    std::vector<std::string> lines;
    Values values = Read(text, &lines);
    EXPECT_TRUE(lines.empty()) << text;
    EXPECT_EQ(values.v[0], "-1") << text;
  }
}

TEST(CfgContent, EmptyValueLineWrittenWithDefaultAndEmptyLabelFilledIn) {
  std::string text = NumberedFile(31, "\r\n");
  text.replace(text.find("line12\r\nline13\r\n"), 16, "\r\n\r\n");  // label and value 5 empty
  std::vector<std::string> lines;
  Values values = Read(text, &lines);
  std::vector<std::string> written = CrLfLines(CfgContent(lines, values.v));
  EXPECT_EQ(written[11], "Shadow Distance");
  EXPECT_EQ(written[12], "200");
  EXPECT_EQ(written[13], "line14");
}

TEST(CfgContent, MarkerOnlyGainsThirtyLinesAndOtherFormatsAreRebuilt) {
  std::vector<std::string> lines;
  Values values = Read("VERSION5\r\n", &lines);
  std::string fromMarker = CfgContent(lines, values.v);
  EXPECT_EQ(CrLfLines(fromMarker).size(), 31u);
  values = Read("VERSION4\r\nold label\r\n640\r\nline4\r\n", &lines);
  EXPECT_EQ(CfgContent(lines, values.v), fromMarker);
  EXPECT_EQ(CfgContent({"VERSION3", "x", "y"}, values.v), fromMarker);  // a stale base is ignored too
}

}  // namespace
