// coinit.tmp, the game client's start-up configuration, as bytes: five encrypted fields of
// two lines each (the last is the game server address), then five plain lines. This is the
// part without files: splitting the text into fields and values, and building the content
// the launcher writes when it creates the file or sets the game server address.
#pragma once
#include "core/base.h"

constexpr int kCoinitFieldCount = 5;
constexpr int kCoinitPlainCount = 5;
// A field of up to 64 characters encrypts to exactly two lines, which is how the file is read.
constexpr size_t kCoinitMaxFieldChars = 64;

extern const char* const kCoinitFileName;    // "coinit.tmp"
extern const char* const kCoinitPassphrase;  // shared with the game client
extern const char* const kCoinitPlainDefaults[kCoinitPlainCount];  // "0" "1" "1024" "768" "32"

// Takes the next field starting at pos: one line (extraLines 0) or two lines joined by
// their CR LF (extraLines 1), and moves pos past the CR LF that ends it (at most to the end
// of the text). A field that starts with an empty line is empty and ends at that line, so
// the bare CR LF written for an empty field reads back as one.
std::string CoinitField(const std::string& text, size_t& pos, int extraLines);

// Splits a file's content: the five encrypted fields, each followed by CR LF, and the five
// plain values with trailing CR, LF and blanks removed (empty or missing ones defaulted).
void ParseCoinit(const std::string& content, std::string& encrypted,
                 std::string plain[kCoinitPlainCount]);

// The file's content from an encrypted part and five plain values (each then CR LF).
std::string CoinitContent(const std::string& encrypted, const std::string plain[kCoinitPlainCount]);

// True when the content server runs on this PC: its host (after any "http://" or "https://",
// up to the next ":"), in any letter case, is "localhost" or begins with "127.".
bool IsLocalContentServer(const std::string& server);

enum class CoinitCreate { Created, CannotEncrypt, ServerTooLong };

// The content of a new file for the content server and game server addresses. A content
// server address over 64 characters is refused: its field would not read back.
CoinitCreate NewCoinitContent(const std::string& server, const std::string& gameServer,
                              std::string& content);

enum class GameServerEdit { AlreadySet, Replaced, CannotEncrypt };

// Puts the game server address into field 5 of existing content, keeping every other byte.
// oldValue receives what field 5 decrypted to; AlreadySet leaves newContent alone.
GameServerEdit SetGameServerField(const std::string& content, const std::string& gameServer,
                                  std::string& newContent, std::string& oldValue);

// A decrypted value fit for one log line: control bytes become "?" (a field that does not
// decrypt gives arbitrary bytes, line breaks included), and an empty value reads "empty".
std::string LoggableFieldValue(const std::string& value);
