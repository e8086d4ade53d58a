// Account form rules; see account_rules.h.
#include "tools/kmcontent/account_rules.h"
#include "core/text.h"

namespace {

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

constexpr size_t kMaxEmailBytes = 100;  // the form's field holds 100 characters

}  // namespace

std::string UserNameProblem(const std::string& name) {
  bool sizeOk = name.size() >= 3 && name.size() <= 16;
  for (char c : name) {
    if (!IsNameCharacter(c)) sizeOk = false;
  }
  if (!sizeOk) return "User names are 3 to 16 letters, numbers or _.";
  return std::string();
}

std::string PasswordProblem(const std::string& password) {
  if (password.size() < 4 || password.size() > 20) return "Passwords are 4 to 20 characters.";
  return std::string();
}

std::string EmailProblem(const std::string& email) {
  if (email.empty()) return std::string();
  size_t at = email.find('@');
  bool ok = email.size() <= kMaxEmailBytes && at != std::string::npos && at > 0 &&
            at + 1 < email.size() && email.find('@', at + 1) == std::string::npos;
  for (unsigned char c : email) {
    if (c <= 0x20 || c == 0x7F) ok = false;
  }
  if (!ok) return "That e-mail address does not look right. Leave it empty or fix it.";
  return std::string();
}

std::string UserNameKey(const std::string& name) { return Lower(name); }
