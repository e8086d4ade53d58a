// kmcontent's command line and the rules of the account form.
#include "tools/kmcontent/account_rules.h"
#include "tools/kmcontent/options.h"
#include "tools/kmcontent/request_log.h"
#include <gtest/gtest.h>

namespace {

const std::vector<OptionDef> kSpecs = {{"build", true}, {"out", true}, {"dry-run", false}};

TEST(ParseOptions, TakesValuesInBothSpellingsAndFlags) {
  OptionValues values;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--build", "b dir", "--out=r=1", "--dry-run"}, kSpecs, values, error)) << error;
  EXPECT_EQ(values["build"], "b dir");
  EXPECT_EQ(values["out"], "r=1");
  EXPECT_EQ(values.count("dry-run"), 1u);
}

TEST(ParseOptions, RefusesWhatItDoesNotKnowWithAMessage) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bulid", "x"}, {"--build"}, {"--build", "a", "--build", "b"}, {"stray"}, {"--dry-run=yes"}, {"--"}};
  for (const auto& args : bad) {
    OptionValues values;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, kSpecs, values, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(ParseListenAddress, ReadsHostAndPort) {
  std::string host;
  int port = -1;
  ASSERT_TRUE(ParseListenAddress("127.0.0.1:25858", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 25858);
  ASSERT_TRUE(ParseListenAddress("[::1]:0", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 0);
  for (const char* bad : {"127.0.0.1", ":80", "host:", "host:65536", "host:-1", "::1:80", "host:8x"}) {
    EXPECT_FALSE(ParseListenAddress(bad, host, port)) << bad;
  }
}

TEST(EmailProblem, OptionalButPlausibleWhenGiven) {
  for (const char* good : {"", "a@b", "mara@example.com"}) EXPECT_EQ(EmailProblem(good), "") << good;
  for (const char* bad : {"no-at", "@b", "a@", "a@b@c", "a b@c", "a@b\n"}) EXPECT_NE(EmailProblem(bad), "") << bad;
  EXPECT_NE(EmailProblem(std::string(95, 'a') + "@b.com"), "");
}

TEST(UserNameKey, OneAccountPerNameInAnyLetterCase) { EXPECT_EQ(UserNameKey("Mara_X"), UserNameKey("mARA_x")); }

TEST(RequestLog, ALineCannotBeForgedThroughTheTarget) {
  RequestLogEntry entry;
  entry.remote = "127.0.0.1:5000";
  entry.method = "GET";
  entry.target = "/files/a\n2026-01-01 fake line";
  entry.status = 404;
  std::string line = FormatRequestLogLine(entry);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_NE(line.find("/files/a\\x0a2026-01-01\\x20fake\\x20line 404 0 "), std::string::npos) << line;
}

}  // namespace
