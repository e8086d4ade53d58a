// The Windows name key: which spellings Windows takes for one file, and the manifest parse
// keeping only the first of them.
#include "update/manifest.h"
#include "update/windows_name_key.h"
#include <gtest/gtest.h>

namespace {

TEST(WindowsNameKey, SpellingsOfOneFileShareTheKey) {
  EXPECT_EQ(WindowsNameKey("data/\xC3\x89p\xC3\xA9" "e.txt"), WindowsNameKey("data/\xC3\xA9p\xC3\xA9" "e.txt"));  // Épée, épée
  EXPECT_EQ(WindowsNameKey("note.txt"), WindowsNameKey("note.txt."));
  EXPECT_EQ(WindowsNameKey("x"), WindowsNameKey("x "));
  EXPECT_EQ(WindowsNameKey("Data\\Sub/./a.DAT"), "DATA/SUB/A.DAT");
  EXPECT_EQ(WindowsNameKey("KMLauncher.exe"), "KMLAUNCHER.EXE");
  // Greek, Cyrillic, Latin Extended-A (pairs alternate) and a title-case digraph.
  EXPECT_EQ(UpcaseAsWindowsNames("\xCE\xB1\xCF\x89 \xD0\xB6 \xC4\x81\xC5\xBE \xC7\x85"),
            "\xCE\x91\xCE\xA9 \xD0\x96 \xC4\x80\xC5\xBD \xC7\x84");
}

TEST(WindowsNameKey, DifferentFilesKeepDifferentKeys) {
  EXPECT_NE(WindowsNameKey("stra\xC3\x9F" "e"), WindowsNameKey("strasse"));  // ß is no SS to Windows
  EXPECT_NE(WindowsNameKey("e\xCC\x81"), WindowsNameKey("\xC3\xA9"));         // decomposed and composed é
  EXPECT_NE(WindowsNameKey("a.dat"), WindowsNameKey("a.dat2"));
  EXPECT_NE(WindowsNameKey("a/b"), WindowsNameKey("ab"));
  // Above the 16-bit plane nothing folds: Deseret small and capital long I stay two names.
  EXPECT_NE(WindowsNameKey("\xF0\x90\x90\xA8"), WindowsNameKey("\xF0\x90\x90\x80"));
  EXPECT_EQ(UpcaseAsWindowsNames("\xF0\x90\x90\xA8 \xE2\x84\xAA"), "\xF0\x90\x90\xA8 \xE2\x84\xAA");  // and the Kelvin sign
}

TEST(ManifestParse, ASecondSpellingOfOneFileIsRefusedAsUnsafe) {
  Manifest manifest = ParseManifest(
      "KMCONTENT\n"
      "00000001 1 data/\xC3\x89p\xC3\xA9" "e.txt\n"
      "00000002 1 data/\xC3\xA9p\xC3\xA9" "e.txt\n"
      "00000003 1 note.txt\n"
      "00000004 1 note.txt.\n"
      "00000005 1 KMLauncher.exe\n"
      "00000006 1 kmlauncher.exe\n"
      "00000007 1 data\\other.txt\n");
  ASSERT_EQ(manifest.files.size(), 4u);
  EXPECT_EQ(manifest.files[0].crc, 1u);
  EXPECT_EQ(manifest.files[1].crc, 3u);
  EXPECT_EQ(manifest.files[2].crc, 5u);
  EXPECT_EQ(manifest.files[3].path, "data\\other.txt");
  EXPECT_EQ(manifest.unsafePaths,
            (std::vector<std::string>{"data/\xC3\xA9p\xC3\xA9" "e.txt", "note.txt.", "kmlauncher.exe"}));
}

}  // namespace
