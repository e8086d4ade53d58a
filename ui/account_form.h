// The account form's rules without a window: the input checks in their order, the request
// body, where the request goes, and how the server's one-line answer is read.
#pragma once
#include "core/base.h"

// The first complaint about the input, or null when it may be sent. The upper limits are the
// edit controls' input limits; the user name's characters are the server's business.
const char* AccountInputProblem(const std::string& user, const std::string& password,
                                const std::string& repetition);

// "user=...&pass=...&email=..." with every field form-encoded, the e-mail field always present.
std::string AccountRequestBody(const std::string& user, const std::string& password, const std::string& email);

// The host and port of "address:port"; without a colon the port is 80. The port is read like
// atoi and truncated to 16 bits.
void SplitServerAddress(const std::string& server, std::string& host, unsigned short& port);

// The answer without its trailing CR and LF; an empty one becomes the "could not reach" refusal.
std::string NormalizeAccountAnswer(std::string answer);

struct AccountReply {
  bool created;         // the answer begins with "OK"
  std::string message;  // otherwise the text for the status line
};
AccountReply ReadAccountAnswer(const std::string& answer);

// The text of the success message box.
std::string AccountCreatedText(const std::string& user);
