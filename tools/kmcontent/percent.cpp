// Percent-decoding and the form body; see percent.h.
#include "tools/kmcontent/percent.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& text, bool plusIsBlank, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c == '+' && plusIsBlank) {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else {
      int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return true;
}

}  // namespace

bool PercentDecode(const std::string& text, std::string& out) { return Decode(text, false, out); }

bool ParseForm(const std::string& body, FormFields& fields) {
  fields.clear();
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string pair = body.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    size_t equals = pair.find('=');
    std::string name, value;
    if (!Decode(pair.substr(0, equals), true, name)) return false;
    if (equals != std::string::npos && !Decode(pair.substr(equals + 1), true, value)) return false;
    fields.emplace_back(std::move(name), std::move(value));
  }
  return true;
}

std::string FormValue(const FormFields& fields, const char* name) {
  for (const auto& field : fields) {
    if (field.first == name) return field.second;
  }
  return std::string();
}
