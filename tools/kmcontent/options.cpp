// Command-line parsing; see options.h.
#include "tools/kmcontent/options.h"

namespace {

const OptionDef* FindOption(const std::vector<OptionDef>& options, const std::string& name) {
  for (const OptionDef& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& options,
                  OptionValues& values, std::string& error) {
  values.clear();
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
      error = "unexpected argument \"" + arg + "\"";
      return false;
    }
    size_t equals = arg.find('=');
    std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionDef* option = FindOption(options, name);
    if (option == nullptr) {
      error = "unknown option --" + name;
      return false;
    }
    if (values.count(name) != 0) {
      error = "--" + name + " is given twice";
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (option->takesValue) {
      if (i + 1 >= args.size()) {
        error = "--" + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!option->takesValue && equals != std::string::npos) {
      error = "--" + name + " takes no value";
      return false;
    }
    values[name] = value;
  }
  return true;
}

bool ParseCount(const std::string& text, unsigned limit, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  unsigned long parsed = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + static_cast<unsigned>(c - '0');
  }
  if (parsed < 1 || parsed > limit) return false;
  value = static_cast<unsigned>(parsed);
  return true;
}

bool ParseListenAddress(const std::string& text, std::string& host, int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string hostPart = text.substr(0, colon);
  if (hostPart.front() == '[') {
    if (hostPart.size() < 3 || hostPart.back() != ']') return false;
    hostPart = hostPart.substr(1, hostPart.size() - 2);
  } else if (hostPart.find(':') != std::string::npos) {
    return false;  // a v6 address needs its brackets
  }
  std::string portPart = text.substr(colon + 1);
  unsigned value = 0;
  if (portPart == "0") {
    value = 0;
  } else if (!ParseCount(portPart, 65535, value)) {
    return false;
  }
  host = hostPart;
  port = static_cast<int>(value);
  return true;
}
