// Account form rules; see account_form.h.
#include "ui/account_form.h"
#include "core/percent_encode.h"
#include "core/text.h"
#include "core/utf8.h"

const char* AccountInputProblem(const std::string& user, const std::string& password,
                                const std::string& repetition) {
  // Characters, not bytes: "éé" is four bytes of UTF-8 but two characters.
  if (Utf8CharacterCount(user) < 3) return "Username must be at least 3 characters.";
  if (Utf8CharacterCount(password) < 4) return "Password must be at least 4 characters.";
  if (repetition != password) return "The two passwords don't match.";
  return nullptr;
}

std::string AccountRequestBody(const std::string& user, const std::string& password, const std::string& email) {
  return "user=" + FormEncode(user) + "&pass=" + FormEncode(password) + "&email=" + FormEncode(email);
}

void SplitServerAddress(const std::string& server, std::string& host, unsigned short& port) {
  size_t colon = server.find(':');
  if (colon == std::string::npos) {
    host = server;
    port = 80;
    return;
  }
  host = server.substr(0, colon);
  port = static_cast<unsigned short>(ParseIntLikeAtoi(server.c_str() + colon + 1));
}

std::string NormalizeAccountAnswer(std::string answer) {
  while (!answer.empty() && (answer.back() == '\r' || answer.back() == '\n')) answer.pop_back();
  if (answer.empty()) answer = "ERR Could not reach the server. Try again in a moment.";
  return answer;
}

AccountReply ReadAccountAnswer(const std::string& answer) {
  if (StartsWith(answer, "OK")) return {true, std::string()};
  if (StartsWith(answer, "ERR ")) return {false, answer.substr(4)};
  return {false, answer};
}

std::string AccountCreatedText(const std::string& user) {
  return "Account \"" + user + "\" created.\n\nPress PLAY and log in with it in the game.";
}
