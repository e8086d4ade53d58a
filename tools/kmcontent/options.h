// The command line of kmcontent: "--name VALUE", "--name=VALUE" and bare "--flag" options
// after the subcommand, and the listen address of serve.
#pragma once
#include "core/base.h"
#include <map>

struct OptionDef {
  const char* name;  // without the leading "--"
  bool takesValue;
};

using OptionValues = std::map<std::string, std::string>;  // a flag maps to ""

// False with a message for an unknown option, a value missing or given to a flag, an option
// given twice, or an argument that is not an option.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<OptionDef>& options,
                  OptionValues& values, std::string& error);

// "host:port" or "[v6 address]:port", port 0 to 65535 (0: any free port). False when malformed.
bool ParseListenAddress(const std::string& text, std::string& host, int& port);

// A decimal count from 1 to limit; false otherwise.
bool ParseCount(const std::string& text, unsigned limit, unsigned& value);
