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

Values Chosen(int vsync, int aa, int filtering) {
  Values values;
  for (int k = 0; k < kCfgValueCount; k++) values.v[k] = kCfgDefaults[k];
  values.v[kCfgVsync] = std::to_string(vsync);
  values.v[kCfgAntiAliasing] = std::to_string(aa);
  values.v[kCfgFiltering] = std::to_string(filtering);
  return values;
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

TEST(CfgContent, NewFileHasMarkerLabelsAndValuesInThirtyOneLines) {
  std::vector<std::string> lines = CrLfLines(CfgContent({}, Chosen(3, 1, 2).v));
  ASSERT_EQ(lines.size(), 31u);
  EXPECT_EQ(lines[0], "VERSION5");
  const char* const values[] = {"-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", "3", "1", "2"};
  for (int k = 0; k < kCfgValueCount; k++) {
    EXPECT_EQ(lines[2 * k + 1], kCfgLabels[k]);
    EXPECT_EQ(lines[2 * k + 2], values[k]) << "value " << k;
  }
  EXPECT_EQ(lines[2], "-1");
  EXPECT_EQ(lines[3], "Resolution Hieght -1 = Auto Detect");
  EXPECT_EQ(lines[25], "VSync 0=Off (uncapped) 1=On at monitor rate 2=Cap 60Hz 3=Cap 120Hz 4=Cap 144Hz 5=Cap 240Hz");
}

TEST(CfgContent, LinesPastTheThirtyFirstAndOwnLabelsSurvive) {
  std::vector<std::string> lines;
  Values values = Read(NumberedFile(40, "\n"), &lines);
  values.v[kCfgVsync] = "4";
  std::vector<std::string> written = CrLfLines(CfgContent(lines, values.v));
  ASSERT_EQ(written.size(), 40u);
  for (int line = 2; line <= 40; line++) {
    std::string expected = line == 27 ? "4" : "line" + std::to_string(line);
    EXPECT_EQ(written[line - 1], expected) << "line " << line;
  }
}

TEST(CfgContent, LfOnlyFileComesBackWithCrLf) {
  std::string original = NumberedFile(31, "\n");
  std::vector<std::string> lines;
  Values values = Read(original, &lines);
  std::string crlf = NumberedFile(31, "\r\n");
  EXPECT_EQ(CfgContent(lines, values.v), crlf);
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
