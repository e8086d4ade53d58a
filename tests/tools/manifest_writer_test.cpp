// The manifest publish writes, read back by the launcher's own parser, and the header values
// that publish refuses.
#include "tools/kmcontent/manifest_writer.h"
#include <gtest/gtest.h>

namespace {

ReleaseInfo SampleInfo() {
  ReleaseInfo info;
  info.version = "42";
  info.name = "Autumn \xE9vent";
  info.notes = {"New map", "", "  indented", "notes"};
  info.mirror = "https://cdn.example.com/kelmorra/files";
  info.gameServer = "play.example.com:7000";
  return info;
}

TEST(FormatManifest, TheLauncherReadsBackEveryValueAndFile) {
  std::vector<RemoteFile> files = {{"Kelmorra.exe", 123456, 0xDEADBEEF},
                                   {"Data/new area.dat", 0, 0},
                                   {"b..c/x y ", 5000000000ull, 0x1}};
  Manifest parsed = ParseManifest(FormatManifest(SampleInfo(), files));
  ASSERT_TRUE(parsed.accepted);
  EXPECT_EQ(parsed.version, 42);
  EXPECT_EQ(parsed.name, "Autumn \xE9vent");
  EXPECT_EQ(parsed.notes, SampleInfo().notes);
  EXPECT_EQ(parsed.mirror, "https://cdn.example.com/kelmorra/files");
  EXPECT_EQ(parsed.gameServer, "play.example.com:7000");
  ASSERT_EQ(parsed.files.size(), files.size());
  for (size_t i = 0; i < files.size(); i++) {
    EXPECT_EQ(parsed.files[i].path, files[i].path);
    EXPECT_EQ(parsed.files[i].size, files[i].size);
    EXPECT_EQ(parsed.files[i].crc, files[i].crc);
  }
  EXPECT_TRUE(parsed.unsafePaths.empty());
}

TEST(FormatManifest, OptionalLinesAreLeftOut) {
  ReleaseInfo info;
  info.version = "0";
  std::string text = FormatManifest(info, {});
  EXPECT_EQ(text, "KMCONTENT\nversion 0\nfiles 0\n");
}

TEST(ReleaseInfoProblems, AGoodReleasePasses) { EXPECT_TRUE(ReleaseInfoProblems(SampleInfo()).empty()); }

TEST(ReleaseInfoProblems, VersionMustBeAPlainWholeNumber) {
  for (const char* version : {"", "-1", "12abc", "1.5", " 3", "2147483648", "99999999999"}) {
    ReleaseInfo info = SampleInfo();
    info.version = version;
    EXPECT_EQ(ReleaseInfoProblems(info).size(), 1u) << version;
  }
  ReleaseInfo info = SampleInfo();
  info.version = "2147483647";
  EXPECT_TRUE(ReleaseInfoProblems(info).empty());
}

TEST(ReleaseInfoProblems, ValuesMustStayOnOneLine) {
  ReleaseInfo info = SampleInfo();
  info.name = "two\nlines";
  info.notes = {"fine", "bad\rline"};
  EXPECT_EQ(ReleaseInfoProblems(info).size(), 2u);
}

TEST(ReleaseInfoProblems, MoreNotesThanTheLauncherShowsAreRefused) {
  ReleaseInfo info = SampleInfo();
  info.notes.assign(kMaxNotesLines, "line");
  EXPECT_TRUE(ReleaseInfoProblems(info).empty());
  info.notes.push_back("one too many");
  EXPECT_EQ(ReleaseInfoProblems(info).size(), 1u);
}

TEST(ReleaseInfoProblems, MirrorMustBeAUrlOrAServerPath) {
  for (const char* mirror : {"cdn.example.com/files", "HTTP://cdn/files", "ftp://x", "http://a b/"}) {
    ReleaseInfo info = SampleInfo();
    info.mirror = mirror;
    EXPECT_FALSE(ReleaseInfoProblems(info).empty()) << mirror;
  }
  for (const char* mirror : {"http://cdn/files", "https://cdn", "/mirror/files", ""}) {
    ReleaseInfo info = SampleInfo();
    info.mirror = mirror;
    EXPECT_TRUE(ReleaseInfoProblems(info).empty()) << mirror;
  }
}

TEST(ReleaseInfoProblems, GameServerMustFitCoinit) {
  ReleaseInfo info = SampleInfo();
  info.gameServer = std::string(kMaxGameServerChars, 'g');
  EXPECT_TRUE(ReleaseInfoProblems(info).empty());
  info.gameServer += "g";
  EXPECT_EQ(ReleaseInfoProblems(info).size(), 1u);
  info.gameServer = "host :7000";
  EXPECT_EQ(ReleaseInfoProblems(info).size(), 1u);
}

TEST(SplitNotesText, KeepsEmptyLinesAndDropsLineEnds) {
  EXPECT_EQ(SplitNotesText("a\r\n\r\nb\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitNotesText("last without end"), (std::vector<std::string>{"last without end"}));
  EXPECT_TRUE(SplitNotesText("").empty());
}

}  // namespace
