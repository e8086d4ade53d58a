// The account form: checks in their order, the request body, the server address split and
// the answer grammar.
#include "ui/account_form.h"
#include <gtest/gtest.h>

TEST(AccountInput, UserNameIsCheckedFirst) {
  EXPECT_STREQ(AccountInputProblem("ab", "x", "y"), "Username must be at least 3 characters.");
  EXPECT_STREQ(AccountInputProblem("", "", ""), "Username must be at least 3 characters.");
}

TEST(AccountInput, PasswordLengthBeforeRepetition) {
  EXPECT_STREQ(AccountInputProblem("abc", "xyz", "q"), "Password must be at least 4 characters.");
}

TEST(AccountInput, RepetitionMustMatchByteForByte) {
  EXPECT_STREQ(AccountInputProblem("abc", "abcd", "abcde"), "The two passwords don't match.");
  EXPECT_STREQ(AccountInputProblem("abc", "abcd", "abcD"), "The two passwords don't match.");
  EXPECT_STREQ(AccountInputProblem("abc", std::string("ab\0d", 4), std::string("ab\0e", 4)),
               "The two passwords don't match.");
}

// The limits are in characters as the player types them, not in bytes of UTF-8; the
// form encodes each byte of a character.
TEST(AccountInput, LengthsCountCharactersNotBytes) {
  EXPECT_STREQ(AccountInputProblem("\xC3\xA9\xC3\xA9", "abcd", "abcd"), "Username must be at least 3 characters.");
  EXPECT_STREQ(AccountInputProblem("abc", "\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"),
               "Password must be at least 4 characters.");
  EXPECT_EQ(AccountInputProblem("\xC3\x86r\xC3\xB8", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), nullptr);
  EXPECT_EQ(AccountRequestBody("\xC3\x86r\xC3\xB8", "\xE6\x97\xA5", ""), "user=%C3%86r%C3%B8&pass=%E6%97%A5&email=");
}

TEST(AccountInput, ShortestValidInputPasses) {
  EXPECT_EQ(AccountInputProblem("abc", "abcd", "abcd"), nullptr);
}

TEST(AccountRequest, BodyEncodesBlankAndAmpersandAndKeepsEmptyEmail) {
  EXPECT_EQ(AccountRequestBody("new player", "pa&ss", ""), "user=new%20player&pass=pa%26ss&email=");
  EXPECT_EQ(AccountRequestBody("a_b", "p=1", "me@x.org"), "user=a_b&pass=p%3D1&email=me%40x.org");
}

TEST(AccountRequest, ServerWithPortAndWithout) {
  std::string host;
  unsigned short port = 0;
  SplitServerAddress("10.0.0.5:25858", host, port);
  EXPECT_EQ(host, "10.0.0.5");
  EXPECT_EQ(port, 25858);
  SplitServerAddress("example.org", host, port);
  EXPECT_EQ(host, "example.org");
  EXPECT_EQ(port, 80);
}

TEST(AccountRequest, PortIsReadLikeAtoiAndTruncatedTo16Bits) {
  std::string host;
  unsigned short port = 0;
  SplitServerAddress("h:65537", host, port);
  EXPECT_EQ(port, 1);
  SplitServerAddress("h:8080x:9", host, port);
  EXPECT_EQ(host, "h");
  EXPECT_EQ(port, 8080);
  SplitServerAddress("h:", host, port);
  EXPECT_EQ(port, 0);
}

TEST(AccountAnswer, TrailingLineEndsAreRemoved) {
  EXPECT_EQ(NormalizeAccountAnswer("ERR Name taken\r\n"), "ERR Name taken");
  EXPECT_EQ(NormalizeAccountAnswer("OK\n\r\n"), "OK");
  EXPECT_EQ(NormalizeAccountAnswer("a\r\nb\r\n"), "a\r\nb");
}

TEST(AccountAnswer, EmptyOrLineEndsOnlyMeansUnreachable) {
  EXPECT_EQ(NormalizeAccountAnswer(""), "ERR Could not reach the server. Try again in a moment.");
  EXPECT_EQ(NormalizeAccountAnswer("\r\n\n\r"), "ERR Could not reach the server. Try again in a moment.");
  EXPECT_EQ(ReadAccountAnswer(NormalizeAccountAnswer("")).message,
            "Could not reach the server. Try again in a moment.");
}

TEST(AccountAnswer, OkWithOrWithoutMoreTextIsSuccess) {
  EXPECT_TRUE(ReadAccountAnswer("OK").created);
  EXPECT_TRUE(ReadAccountAnswer("OK Welcome aboard").created);
  EXPECT_TRUE(ReadAccountAnswer("OKAY").created);
  EXPECT_FALSE(ReadAccountAnswer("ok").created);
}

TEST(AccountAnswer, ErrShowsOnlyTheTextAfterItsPrefix) {
  AccountReply reply = ReadAccountAnswer("ERR Name taken");
  EXPECT_FALSE(reply.created);
  EXPECT_EQ(reply.message, "Name taken");
  EXPECT_EQ(ReadAccountAnswer("ERR ").message, "");
}

TEST(AccountAnswer, AnythingElseIsShownWhole) {
  EXPECT_EQ(ReadAccountAnswer("ERR").message, "ERR");
  EXPECT_EQ(ReadAccountAnswer("ERRNO").message, "ERRNO");
  EXPECT_EQ(ReadAccountAnswer("<html>502 Bad Gateway</html>").message, "<html>502 Bad Gateway</html>");
}

TEST(AccountAnswer, SuccessTextQuotesTheUserName) {
  EXPECT_EQ(AccountCreatedText("bob"), "Account \"bob\" created.\n\nPress PLAY and log in with it in the game.");
}
