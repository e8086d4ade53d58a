// Bounded formatting, ASCII case folding and game-folder paths; see text.h.
#include "core/text.h"
#include "core/utf8.h"
#include <climits>

std::string FmtV(const char* format, va_list args) {
  char buffer[kFmtMaxChars + 1];
  int written = vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) return std::string();
  std::string text(buffer);
  // A cut never leaves half a character of UTF-8 behind (it would be drawn as U+FFFD).
  if (static_cast<size_t>(written) > kFmtMaxChars) text.resize(WithoutCutCharacter(text));
  return text;
}

std::string Fmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = FmtV(format, args);
  va_end(args);
  return result;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string JoinGamePath(const std::string& gameDir, const std::string& relativePath) {
  std::string path = gameDir + relativePath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

std::string WithTrailingBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

int ParseIntLikeAtoi(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    value = value * 10 + (*text - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

std::string Megabytes(uint64_t bytes) { return Fmt("%.1f MB", bytes / 1048576.0); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}
