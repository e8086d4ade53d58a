// The command line of `kmcontent serve`: its options and their checks.
#pragma once
#include "tools/kmcontent/options.h"
#include "tools/kmcontent/serve.h"

extern const std::vector<OptionDef> kServeOptionDefs;
extern const char kServeHelp[];

// Fills options from parsed values; false with a message for the operator.
bool ServeOptionsFromValues(const OptionValues& values, ServeOptions& options, std::string& error);
