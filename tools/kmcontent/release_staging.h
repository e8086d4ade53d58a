// The staging folders publish writes a release into before it is swapped in, named
// ".<name>.new-<process id>" beside their target, and the removal of the ones a run that was
// interrupted (killed, power lost) left behind: they hold a half-written release that no
// later run would ever finish or delete.
#pragma once
#include "core/base.h"
#include <filesystem>

// folder/".<name>.new-<this process's id>".
std::filesystem::path StagingFolder(const std::filesystem::path& folder, const std::string& name);

// The process id in a staging folder's name "." + name + ".new-" + digits, with name as
// given or, when name is empty, any name without '/'; 0 when entry is no such name.
long StagingOwner(const std::string& entry, const std::string& name);

// Deletes, in folder, every real folder (no link) with a staging name for name (or any, for
// an empty name) whose process is gone: a publish running beside this one keeps its own.
// The names deleted; error tells of one that could not be.
std::vector<std::string> RemoveLeftStaging(const std::filesystem::path& folder, const std::string& name,
                                           std::string& error);
