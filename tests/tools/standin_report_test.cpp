// The stand-in client's report, fed with files made by the launcher's own writers: what the
// launcher writes is what the report shows.
#include "gameconfig/coinit.h"
#include "gameconfig/startcfg.h"
#include "tools/standin/standin_report.h"
#include <gtest/gtest.h>

namespace {

std::string ValueOf(const std::string& report, const std::string& key) {
  std::string prefix = key + "=";
  size_t start = report.find("\r\n" + prefix);
  start = report.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : start + 2 + prefix.size();
  return report.substr(start, report.find("\r\n", start) - start);
}

StandinInputs Inputs() {
  StandinInputs inputs;
  inputs.commandLine = "\"C:\\Games\\Kelmorra\\Kelmorra.exe\"";
  inputs.workDir = "C:\\Games\\Kelmorra";
  inputs.exePath = "C:\\Games\\Kelmorra\\Kelmorra.exe";
  return inputs;
}

TEST(StandinReport, ShowsTheGameServerAndPlainLinesTheLauncherWrote) {
  StandinInputs inputs = Inputs();
  ASSERT_EQ(NewCoinitContent("content.example:25858", "game.example:7000", inputs.coinit), CoinitCreate::Created);
  inputs.haveCoinit = true;
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ParseCoinit(inputs.coinit, encrypted, plain);
  plain[0] = "1";
  plain[2] = "1920";
  plain[3] = "1080";
  inputs.coinit = CoinitContent(encrypted, plain);

  std::string report = StandinReport(inputs);
  EXPECT_EQ(ValueOf(report, "commandline"), inputs.commandLine);
  EXPECT_EQ(ValueOf(report, "workdir"), "C:\\Games\\Kelmorra");
  EXPECT_EQ(ValueOf(report, "exe"), inputs.exePath);
  EXPECT_EQ(ValueOf(report, "gameserver"), "game.example:7000");
  EXPECT_EQ(ValueOf(report, "coinit.plain1"), "1");
  EXPECT_EQ(ValueOf(report, "coinit.plain2"), "1");
  EXPECT_EQ(ValueOf(report, "coinit.plain3"), "1920");
  EXPECT_EQ(ValueOf(report, "coinit.plain4"), "1080");
  EXPECT_EQ(ValueOf(report, "coinit.plain5"), "32");
}

TEST(StandinReport, ShowsAReplacedGameServer) {
  StandinInputs inputs = Inputs();
  std::string first;
  ASSERT_EQ(NewCoinitContent("content.example:25858", "old.example:1", first), CoinitCreate::Created);
  std::string old;
  ASSERT_EQ(SetGameServerField(first, "new.example:2", inputs.coinit, old), GameServerEdit::Replaced);
  inputs.haveCoinit = true;
  EXPECT_EQ(StandinGameServer(inputs), "new.example:2");
}

TEST(StandinReport, ShowsTheThreeGraphicsValues) {
  StandinInputs inputs = Inputs();
  std::string values[kCfgValueCount];
  for (int k = 0; k < kCfgValueCount; k++) values[k] = kCfgDefaults[k];
  values[kCfgVsync] = "3";
  values[kCfgAntiAliasing] = "0";
  values[kCfgFiltering] = "2";
  inputs.startCfg = CfgContent({}, values);
  inputs.haveStartCfg = true;
  std::string report = StandinReport(inputs);
  EXPECT_EQ(ValueOf(report, "startcfg.vsync"), "3");
  EXPECT_EQ(ValueOf(report, "startcfg.aa"), "0");
  EXPECT_EQ(ValueOf(report, "startcfg.filtering"), "2");
}

TEST(StandinReport, MissingFilesGiveEmptyValues) {
  std::string report = StandinReport(Inputs());
  for (const char* key : {"gameserver", "coinit.plain1", "coinit.plain5", "startcfg.vsync", "startcfg.aa",
                          "startcfg.filtering"}) {
    EXPECT_EQ(ValueOf(report, key), "") << key;
  }
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 12);  // every key, always
}

TEST(StandinReport, ShortFilesGiveEmptyValuesForWhatIsMissing) {
  StandinInputs inputs = Inputs();
  inputs.haveCoinit = true;
  inputs.coinit = "only one line\r\n";
  inputs.haveStartCfg = true;
  inputs.startCfg = "VERSION5\r\nlabel\r\n-1\r\n";
  std::string report = StandinReport(inputs);
  EXPECT_EQ(ValueOf(report, "coinit.plain1"), "");
  EXPECT_EQ(ValueOf(report, "startcfg.filtering"), "");
}

TEST(StandinReport, ControlBytesCannotBreakALine) {
  StandinInputs inputs = Inputs();
  inputs.commandLine = "Kelmorra.exe\r\ngameserver=forged";
  std::string report = StandinReport(inputs);
  EXPECT_EQ(ValueOf(report, "commandline"), "Kelmorra.exe??gameserver=forged");
  EXPECT_EQ(ValueOf(report, "gameserver"), "");
}

}  // namespace
