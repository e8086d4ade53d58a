// startcfg.aut byte logic; see startcfg.h. The label texts are the game client's own,
// spelling included ("Hieght"): a rebuilt file must look like one the client wrote.
#include "gameconfig/startcfg.h"

const char* const kCfgFileName = "startcfg.aut";
const char* const kCfgMarker = "VERSION5";

const char* const kCfgLabels[kCfgValueCount] = {
    "Resolution Width -1 = Auto Detect",
    "Resolution Hieght -1 = Auto Detect",
    "Bit Depth -1 = Auto Detect",
    "Enhanced Mode - Recommended off (forces 16 bit depth non stencil) required for Stencil shadows must be on",
    "Shadow Type 0=NONE 1=Stencil Volumes 2=Spot Basic - Recommended off",
    "Shadow Distance",
    "Self Shadow in first person- Recommended 0",
    "Max Shadow Render",
    "Max Texture Size",
    "Compress Textures",
    "Render Processor post effect",
    "Show Character Names Above Head",
    "VSync 0=Off (uncapped) 1=On at monitor rate 2=Cap 60Hz 3=Cap 120Hz 4=Cap 144Hz 5=Cap 240Hz",
    "AntiAliasing MSAA 0=Off 1=2x 2=4x 3=8x",
    "Anisotropic Filtering 0=Off 1=2x 2=4x 3=8x 4=16x",
};

const char* const kCfgDefaults[kCfgValueCount] = {
    "-1", "-1", "-1", "0", "0", "200", "0", "10", "2048", "1", "-1", "1", "1", "2", "4",
};

namespace {

size_t LabelIndex(int k) { return 2 * static_cast<size_t>(k) + 1; }
size_t ValueIndex(int k) { return 2 * static_cast<size_t>(k) + 2; }

bool IsLauncherFormat(const std::vector<std::string>& lines) {
  return !lines.empty() && lines[0] == kCfgMarker;
}

}  // namespace

std::vector<std::string> SplitCfgLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : bytes) {
    if (c != '\n') {
      line += c;
      continue;
    }
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void CfgValuesFromLines(std::vector<std::string>& lines, std::string values[kCfgValueCount]) {
  for (int k = 0; k < kCfgValueCount; k++) values[k] = kCfgDefaults[k];
  if (!IsLauncherFormat(lines)) {
    lines.clear();
    return;
  }
  for (int k = 0; k < kCfgValueCount; k++) {
    size_t index = ValueIndex(k);
    if (index < lines.size() && !lines[index].empty()) values[k] = lines[index];
  }
}

std::string CfgContent(const std::vector<std::string>& lines,
                       const std::string values[kCfgValueCount]) {
  std::vector<std::string> out = lines;
  if (!IsLauncherFormat(out)) out.assign(1, kCfgMarker);
  for (int k = 0; k < kCfgValueCount; k++) {
    if (out.size() < ValueIndex(k) + 1) out.resize(ValueIndex(k) + 1);
    if (out[LabelIndex(k)].empty()) out[LabelIndex(k)] = kCfgLabels[k];
    out[ValueIndex(k)] = values[k];
  }
  std::string content;
  for (const std::string& line : out) content += line + "\r\n";
  return content;
}
