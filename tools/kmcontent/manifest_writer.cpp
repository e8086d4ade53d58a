// Writing the manifest; see manifest_writer.h. The launcher reads a file line as hex CRC,
// blank, decimal size, blanks, path, so a path must not begin with a blank (publish_rules
// refuses such paths); a header value must be one line, since a line break inside it
// would start a line of its own.
#include "tools/kmcontent/manifest_writer.h"
#include "update/packed_form.h"
#include "update/release_channel.h"
#include "core/text.h"
#include <climits>

namespace {

bool HasControlByte(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') return true;
  }
  return false;
}

bool HasBlankOrControl(const std::string& text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool IsPlainDecimal(const std::string& text, long long limit) {
  if (text.empty() || text.size() > 10) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value <= limit;
}

void CheckMirror(const std::string& mirror, std::vector<std::string>& problems) {
  if (mirror.empty()) return;
  bool absolute = StartsWith(mirror, "http://") || StartsWith(mirror, "https://");
  if (!absolute && mirror[0] != '/') {
    problems.push_back("the mirror must begin with \"http://\" or \"https://\" (or \"/\" for a "
                       "path on the content server); the launcher would take \"" + mirror +
                       "\" for a path");
  }
  if (HasBlankOrControl(mirror)) problems.push_back("the mirror must not contain blanks or control characters");
}

void CheckGameServer(const std::string& server, std::vector<std::string>& problems) {
  if (server.empty()) return;
  if (server.size() > kMaxGameServerChars) {
    problems.push_back("the game server address has " + std::to_string(server.size()) +
                       " characters; the launcher keeps at most " +
                       std::to_string(kMaxGameServerChars));
  }
  if (HasBlankOrControl(server)) problems.push_back("the game server address must not contain blanks or control characters");
}

}  // namespace

std::vector<std::string> ReleaseInfoProblems(const ReleaseInfo& info) {
  std::vector<std::string> problems;
  if (!IsPlainDecimal(info.version, INT_MAX)) {
    problems.push_back("the version must be a whole number from 0 to " + std::to_string(INT_MAX) +
                       ", not \"" + info.version + "\"");
  }
  if (HasControlByte(info.name)) problems.push_back("the release name must be one line without control characters");
  if (info.notes.size() > kMaxNotesLines) {
    problems.push_back("the notes have " + std::to_string(info.notes.size()) +
                       " lines; the launcher shows at most " + std::to_string(kMaxNotesLines));
  }
  for (size_t i = 0; i < info.notes.size(); i++) {
    if (HasControlByte(info.notes[i])) {
      problems.push_back("notes line " + std::to_string(i + 1) + " has a control character");
      break;
    }
  }
  CheckMirror(info.mirror, problems);
  CheckGameServer(info.gameServer, problems);
  return problems;
}

std::vector<std::string> SplitNotesText(const std::string& text) { return SplitLines(text); }

std::string FormatManifest(const ReleaseInfo& info, const std::vector<RemoteFile>& files) {
  std::string text = "KMCONTENT\nversion " + info.version + "\n";
  if (!info.name.empty()) text += "name " + info.name + "\n";
  for (const std::string& line : info.notes) text += line.empty() ? "notes\n" : "notes " + line + "\n";
  if (!info.mirror.empty()) text += "mirror " + info.mirror + "\n";
  if (!info.gameServer.empty()) text += "gameserver " + info.gameServer + "\n";
  if (!info.channel.empty()) text += kChannelLinePrefix + info.channel + "\n";
  text += info.rolloutLine;
  text += "files " + std::to_string(files.size()) + "\n";
  char numbers[48];
  for (const RemoteFile& file : files) {
    snprintf(numbers, sizeof numbers, "%08X %llu ", static_cast<unsigned>(file.crc),
             static_cast<unsigned long long>(file.size));
    text += numbers + file.path + "\n";
  }
  for (const RemoteFile& file : files) {
    if (file.hasBlockMap) text += kBlockMapLinePrefix + file.path + "\n";
  }
  for (const RemoteFile& file : files) {
    if (file.hasPacked) text += kPackedLinePrefix + file.path + "\n";
  }
  return text;
}
