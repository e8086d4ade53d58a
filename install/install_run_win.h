// The install run: the worker in the ordinary launcher and the elevated install process.
#pragma once
#include "core/base.h"

// The whole elevated install process ("/install" server "folder"); returns its exit code.
int RunInstallStep(const std::vector<std::string>& arguments);
