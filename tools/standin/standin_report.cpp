// The stand-in's report; see standin_report.h. coinit.tmp is split exactly as the launcher
// splits it (CoinitField: five two-line fields, then one line per plain value) and field 5
// is decrypted with the shared pass phrase, so a report proves what the real client would
// read.
#include "tools/standin/standin_report.h"
#include "gameconfig/axcrypt.h"
#include "gameconfig/coinit.h"
#include "gameconfig/startcfg.h"

const char* const kStandinReportName = "Kelmorra-report.txt";

namespace {

std::string OneLine(std::string value) {
  for (char& c : value) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return value;
}

void AddLine(std::string& report, const std::string& key, const std::string& value) {
  report += key + "=" + OneLine(value) + "\r\n";
}

// The five encrypted fields and the five plain lines of coinit.tmp as the file holds them.
void SplitCoinit(const std::string& content, std::string fields[kCoinitFieldCount],
                 std::string plain[kCoinitPlainCount]) {
  size_t pos = 0;
  for (int i = 0; i < kCoinitFieldCount; i++) fields[i] = CoinitField(content, pos, 1);
  for (int i = 0; i < kCoinitPlainCount; i++) {
    plain[i] = pos < content.size() ? CoinitField(content, pos, 0) : std::string();
    while (!plain[i].empty() && strchr("\r\n \t", plain[i].back()) != nullptr) plain[i].pop_back();
  }
}

std::string CfgLine(const std::vector<std::string>& lines, size_t lineNumber) {
  return lineNumber <= lines.size() ? lines[lineNumber - 1] : std::string();
}

}  // namespace

std::string StandinGameServer(const StandinInputs& inputs) {
  if (!inputs.haveCoinit) return std::string();
  std::string fields[kCoinitFieldCount];
  std::string plain[kCoinitPlainCount];
  SplitCoinit(inputs.coinit, fields, plain);
  char address[256];
  ax_decrypt(kCoinitPassphrase, fields[4].c_str(), address, sizeof address);
  return address;
}

std::string StandinReport(const StandinInputs& inputs) {
  std::string report;
  AddLine(report, "commandline", inputs.commandLine);
  AddLine(report, "workdir", inputs.workDir);
  AddLine(report, "exe", inputs.exePath);
  AddLine(report, "gameserver", StandinGameServer(inputs));
  std::string fields[kCoinitFieldCount];
  std::string plain[kCoinitPlainCount];
  if (inputs.haveCoinit) SplitCoinit(inputs.coinit, fields, plain);
  for (int i = 0; i < kCoinitPlainCount; i++) AddLine(report, "coinit.plain" + std::to_string(i + 1), plain[i]);
  std::vector<std::string> cfg;
  if (inputs.haveStartCfg) cfg = SplitCfgLines(inputs.startCfg);
  AddLine(report, "startcfg.vsync", CfgLine(cfg, 2 * kCfgVsync + 3));
  AddLine(report, "startcfg.aa", CfgLine(cfg, 2 * kCfgAntiAliasing + 3));
  AddLine(report, "startcfg.filtering", CfgLine(cfg, 2 * kCfgFiltering + 3));
  return report;
}
