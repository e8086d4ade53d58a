// What the account server accepts from the account form, with the texts the player sees
// when a value is refused (the launcher shows what follows "ERR ").
#pragma once
#include "core/base.h"

// Each returns empty for an acceptable value, else the message for the player.
std::string UserNameProblem(const std::string& name);        // 3 to 16 of A-Z a-z 0-9 _
std::string PasswordProblem(const std::string& password);    // 4 to 20 bytes
std::string EmailProblem(const std::string& email);          // optional; else one '@', no blanks

// User names are unique in any letter case: "Mara" and "mara" are one account.
std::string UserNameKey(const std::string& name);
