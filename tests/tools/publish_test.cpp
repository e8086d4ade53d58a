// The publish run on real folders: the manifest it writes is what the launcher's parser
// accepts with every file, refused builds leave nothing behind, and a new release replaces
// the old one whole.
#include "tools/kmcontent/publish.h"
#include "tools/kmcontent/release_layout.h"
#include "tests/block_map_of_bytes.h"
#include "update/block_map.h"
#include "update/crc32.h"
#include "update/packed_form.h"
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PublishRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kmcontent-publish-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(build());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path build() const { return root_ / "build"; }
  fs::path out() const { return root_ / "release"; }

  std::string Write(const std::string& relative, const std::string& bytes) {
    fs::path path = build() / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return bytes;
  }

  PublishOptions Options(const char* version = "3") const {
    PublishOptions options;
    options.buildDir = build().string();
    options.outDir = out().string();
    options.info.version = version;
    return options;
  }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Folders other than build/ and release/ (a staging folder left behind would show here).
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_)) {
      std::string name = entry.path().filename().string();
      if (entry.is_directory() && name != "build" && name != "release") names.push_back(name);
    }
    return names;
  }

  fs::path root_;
};

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST_F(PublishRun, TheLauncherAcceptsTheManifestWithEveryFile) {
  std::map<std::string, std::string> files = {
      {"Kelmorra.exe", RandomBytes(70000, 1)},
      {"Data/maps/new area.dat", RandomBytes(3 << 20 | 17, 2)},
      {"Data/empty.bin", ""},
      {"caf\xC3\xA9/\xC3\xA9t\xC3\xA9.txt", "summer"},
      {"Sub/musicsetting.cfg", "only the top-level one is the player's"}};
  for (const auto& [path, bytes] : files) Write(path, bytes);
  std::ofstream(root_ / "notes.txt") << "Line one\r\n\r\nLine three\n";
  PublishOptions options = Options("12");
  options.info.name = "Harvest";
  options.info.mirror = "http://127.0.0.1:8080/files";
  options.info.gameServer = "game.example:7000";
  options.notesFile = (root_ / "notes.txt").string();
  options.jobs = 3;

  PublishResult result = Publish(options, nullptr);
  ASSERT_TRUE(result.ok) << (result.problems.empty() ? "" : result.problems[0]);
  EXPECT_EQ(result.files, files.size());

  Manifest manifest = ParseManifest(Read(out() / "manifest"));
  ASSERT_TRUE(manifest.accepted);
  EXPECT_EQ(manifest.version, 12);
  EXPECT_EQ(manifest.name, "Harvest");
  EXPECT_EQ(manifest.notes, (std::vector<std::string>{"Line one", "", "Line three"}));
  EXPECT_EQ(manifest.mirror, "http://127.0.0.1:8080/files");
  EXPECT_EQ(manifest.gameServer, "game.example:7000");
  ASSERT_EQ(manifest.files.size(), files.size());
  for (const RemoteFile& file : manifest.files) {
    ASSERT_EQ(files.count(file.path), 1u) << file.path;
    const std::string& bytes = files[file.path];
    EXPECT_EQ(file.size, bytes.size()) << file.path;
    EXPECT_EQ(file.crc, Crc32Of(bytes.data(), bytes.size())) << file.path;
    EXPECT_EQ(Read(out() / "files" / file.path), bytes) << file.path;
  }
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, LargeFilesGetABlockMapThatDescribesThemAndTheManifestAnnouncesIt) {
  std::string big = Write("Data/big.pak", RandomBytes(5 << 20 | 3, 3));
  Write("Data/small.pak", RandomBytes(1000, 4));
  Write("other.pak", RandomBytes(4 << 20, 5));
  std::string taken = Write("other.pak.KMMAP", "a game file of the map's name");
  ASSERT_TRUE(Publish(Options(), nullptr).ok);

  Manifest manifest = ParseManifest(Read(out() / "manifest"));
  std::map<std::string, bool> mapped;
  for (const RemoteFile& file : manifest.files) mapped[file.path] = file.hasBlockMap;
  EXPECT_EQ(mapped, (std::map<std::string, bool>{
                        {"Data/big.pak", true}, {"Data/small.pak", false}, {"other.pak", false}, {"other.pak.KMMAP", false}}));
  BlockMap map;
  ASSERT_TRUE(ParseBlockMap(Read(out() / "files" / "Data" / "big.pak.kmmap"), map));
  EXPECT_EQ(SerializeBlockMap(map),
            SerializeBlockMap(MakeBlockMap(reinterpret_cast<const uint8_t*>(big.data()), big.size(), 64 << 10)));
  EXPECT_FALSE(fs::exists(out() / "files" / "Data" / "small.pak.kmmap"));
  EXPECT_EQ(Read(out() / "files" / "other.pak.KMMAP"), taken);

  PublishOptions none = Options("4");
  none.blockMapsFrom = 0;
  ASSERT_TRUE(Publish(none, nullptr).ok);
  EXPECT_EQ(Read(out() / "manifest").find("\nmap "), std::string::npos);
  EXPECT_FALSE(fs::exists(out() / "files" / "Data" / "big.pak.kmmap"));
}

// Inflates a packed form written by publish whole, as the launcher does.
std::string Unpack(const std::string& packed, uint64_t rawSize) {
  std::string raw;
  BlockInflater inflater(rawSize, [&raw](const uint8_t* data, size_t size) {
    raw.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  bool fed = inflater.Feed(reinterpret_cast<const uint8_t*>(packed.data()), packed.size());
  return fed && inflater.Complete() ? raw : "not a packed form of the file";
}

TEST_F(PublishRun, FilesThatShrinkGetAPackedFormSharedWithTheReleaseAfter) {
  std::string text;
  for (int i = 0; text.size() < (300u << 10); i++) text += "quest " + std::to_string(i) + " of the harvest festival\n";
  Write("Data/quests.txt", text);
  Write("Data/music.ogg", RandomBytes(200 << 10, 6));  // saves nothing
  Write("Data/tiny.txt", std::string(1000, 'a'));      // too small to be worth a request
  Write("other.txt", text);
  std::string taken = Write("other.txt.kmpack", "a game file of the packed form's name");
  ASSERT_TRUE(Publish(Options(), nullptr).ok);

  std::string manifestText = Read(out() / "manifest");
  Manifest manifest = ParseManifest(manifestText);
  std::map<std::string, bool> packed;
  for (const RemoteFile& file : manifest.files) packed[file.path] = file.hasPacked;
  EXPECT_EQ(packed, (std::map<std::string, bool>{{"Data/music.ogg", false}, {"Data/quests.txt", true},
                                                 {"Data/tiny.txt", false}, {"other.txt", false},
                                                 {"other.txt.kmpack", false}}));
  std::string form = Read(out() / "files" / "Data" / "quests.txt.kmpack");
  EXPECT_LT(form.size(), text.size() / 4);
  EXPECT_TRUE(Unpack(form, text.size()) == text);
  EXPECT_FALSE(fs::exists(out() / "files" / "Data" / "music.ogg.kmpack"));
  EXPECT_FALSE(fs::exists(out() / "files" / "Data" / "tiny.txt.kmpack"));
  EXPECT_EQ(Read(out() / "files" / "other.txt.kmpack"), taken);

  // The next release shares the unchanged file and its packed form; the game file that had a
  // packed form's name in the release before is not taken for one.
  fs::remove(build() / "other.txt.kmpack");
  ASSERT_TRUE(Publish(Options("4"), nullptr).ok);
  struct stat before {}, after {};
  ASSERT_EQ(stat((out() / "releases" / "v3" / "files" / "Data" / "quests.txt.kmpack").c_str(), &before), 0);
  ASSERT_EQ(stat((out() / "releases" / "v4" / "files" / "Data" / "quests.txt.kmpack").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_FALSE(fs::exists(out() / "files" / "other.txt.kmpack"));
  EXPECT_EQ(Read(out() / "manifest").find("packed other.txt"), std::string::npos);

  PublishOptions none = Options("5");
  none.packed = false;
  ASSERT_TRUE(Publish(none, nullptr).ok);
  EXPECT_EQ(Read(out() / "manifest").find("\npacked "), std::string::npos);
  EXPECT_FALSE(fs::exists(out() / "files" / "Data" / "quests.txt.kmpack"));
}

TEST_F(PublishRun, FilesAreListedInByteOrderOfTheirPaths) {
  for (const char* path : {"b.dat", "A/z.dat", "a.dat", "B/a.dat"}) Write(path, path);
  ASSERT_TRUE(Publish(Options(), nullptr).ok);
  Manifest manifest = ParseManifest(Read(out() / "manifest"));
  std::vector<std::string> paths;
  for (const RemoteFile& file : manifest.files) paths.push_back(file.path);
  EXPECT_EQ(paths, (std::vector<std::string>{"A/z.dat", "B/a.dat", "a.dat", "b.dat"}));
}

TEST_F(PublishRun, ARefusedBuildNamesEveryProblemAndWritesNothing) {
  Write("Kelmorra.exe", "game");
  Write("logs/session.log", "player file");
  Write("Data/Map.dat", "one");
  Write("data/map.dat", "two");
  Write("bad?name.txt", "x");
  PublishResult result = Publish(Options(), nullptr);
  EXPECT_FALSE(result.ok);
  ASSERT_EQ(result.problems.size(), 3u);
  EXPECT_NE(result.problems[0].find("bad?name.txt"), std::string::npos);
  EXPECT_NE(result.problems[1].find("logs/session.log"), std::string::npos);
  EXPECT_NE(result.problems[2].find("letter case"), std::string::npos);
  EXPECT_FALSE(fs::exists(out()));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, LinksToFoldersAreRefusedAndLinksToFilesPublishTheirContent) {
  Write("real/file.dat", "content");
  fs::create_directory_symlink(build() / "real", build() / "linked");
  PublishResult refused = Publish(Options(), nullptr);
  ASSERT_FALSE(refused.ok);
  EXPECT_NE(refused.problems[0].find("linked"), std::string::npos);

  fs::remove(build() / "linked");
  fs::create_symlink(build() / "real" / "file.dat", build() / "alias.dat");
  ASSERT_TRUE(Publish(Options(), nullptr).ok);
  EXPECT_EQ(Read(out() / "files" / "alias.dat"), "content");
  EXPECT_FALSE(fs::is_symlink(out() / "files" / "alias.dat"));
}

TEST_F(PublishRun, ANewReleaseReplacesTheOldOneWhole) {
  Write("old-only.dat", "old");
  Write("shared.dat", "version one");
  ASSERT_TRUE(Publish(Options("1"), nullptr).ok);
  fs::remove(build() / "old-only.dat");
  Write("shared.dat", "version two");
  Write("new-only.dat", "new");
  ASSERT_TRUE(Publish(Options("2"), nullptr).ok);

  EXPECT_EQ(ParseManifest(Read(out() / "manifest")).version, 2);
  EXPECT_FALSE(fs::exists(out() / "files" / "old-only.dat"));
  EXPECT_EQ(Read(out() / "files" / "shared.dat"), "version two");
  EXPECT_EQ(Read(out() / "files" / "new-only.dat"), "new");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, EarlierReleasesStayUnderTheirOwnNamesForTheGracePeriod) {
  for (const char* version : {"1", "2", "2"}) {
    Write("a.dat", std::string("content of ") + version);
    ASSERT_TRUE(Publish(Options(version), nullptr).ok) << version;
  }
  // v2 was published twice: the second is v2.2, so the first one's URLs keep their bytes.
  Write("a.dat", "content of 3");
  EXPECT_EQ(Read(out() / "releases" / "v2" / "files" / "a.dat"), "content of 2");
  EXPECT_NE(Read(out() / "releases" / "v2.2" / "manifest").find("mirror /releases/v2.2/files\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(out() / "releases" / "v1"));  // two earlier ones are kept by default
  PublishOptions options = Options("3");
  options.keep = 1;
  ASSERT_TRUE(Publish(options, nullptr).ok);
  EXPECT_FALSE(fs::exists(out() / "releases" / "v1"));  // beyond --keep 1 at the last publish
  EXPECT_FALSE(fs::exists(out() / "releases" / "v2"));
  Manifest current = ParseManifest(Read(out() / "manifest"));
  EXPECT_EQ(current.version, 3);
  EXPECT_EQ(current.mirror, "/releases/v3/files");
  EXPECT_EQ(Read(out() / "files" / "a.dat"), "content of 3");
  EXPECT_EQ(release_layout::Previous(out()), "v2.2");
  std::string error;
  ASSERT_TRUE(release_layout::SwitchCurrent(out(), "v2.2", error)) << error;
  EXPECT_EQ(ParseManifest(Read(out() / "manifest")).version, 2);
  EXPECT_EQ(release_layout::Previous(out()), "");  // v1 and v2 are gone
  EXPECT_FALSE(release_layout::SwitchCurrent(out(), "v1", error));
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, AReleaseOfTheSingleFolderLayoutIsTakenOver) {
  fs::create_directories(out() / "files");
  std::ofstream(out() / "manifest", std::ios::binary) << "KMCONTENT\nversion 1\nfiles 0\n";
  Write("a.dat", "new");
  PublishOptions options = Options("2");
  options.info.mirror = "https://cdn.example.com/kelmorra/v2";
  ASSERT_TRUE(Publish(options, nullptr).ok);
  EXPECT_TRUE(release_layout::IsLayered(out()));
  EXPECT_EQ(ParseManifest(Read(out() / "manifest")).mirror, "https://cdn.example.com/kelmorra/v2");
  EXPECT_EQ(Read(out() / "releases" / "v2" / "files" / "a.dat"), "new");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, AFailedCopyLeavesTheOldReleaseAsItWas) {
  Write("a.dat", "first");
  ASSERT_TRUE(Publish(Options("1"), nullptr).ok);
  std::string before = Read(out() / "manifest");
  Write("b.dat", RandomBytes(1 << 20, 6));
  // A file whose size is not what it reads as: the copy of this one fails (also as root).
  fs::create_symlink("/proc/self/status", build() / "changing.dat");
  PublishResult result = Publish(Options("2"), nullptr);
  EXPECT_FALSE(result.ok);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_NE(result.problems[0].find("changing.dat: changed while it was being published"), std::string::npos);
  EXPECT_EQ(Read(out() / "manifest"), before);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(PublishRun, AReleaseInsideTheBuildIsRefused) {
  Write("a.dat", "x");
  PublishOptions options = Options();
  options.outDir = (build() / "release").string();
  EXPECT_FALSE(Publish(options, nullptr).ok);
  EXPECT_FALSE(fs::exists(build() / "release"));
}

TEST_F(PublishRun, ProgressEndsWithEveryByteCounted) {
  Write("a.dat", RandomBytes(100000, 4));
  Write("b.dat", RandomBytes(20000, 5));
  PublishProgress last;
  int calls = 0;
  ASSERT_TRUE(Publish(Options(), [&](const PublishProgress& p) { last = p, calls++; }).ok);
  EXPECT_GE(calls, 1);
  EXPECT_EQ(last.filesDone, 2u);
  EXPECT_EQ(last.filesTotal, 2u);
  EXPECT_EQ(last.bytesDone, 120000u);
  EXPECT_EQ(last.bytesTotal, 120000u);
}

// The id of a process that has ended: a child that exits at once.
long EndedProcessId() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

TEST_F(PublishRun, StagingFoldersOfInterruptedRunsAreDeletedAndNothingElse) {
  Write("a.dat", "one");
  ASSERT_TRUE(Publish(Options("1"), nullptr).ok);
  std::string ended = std::to_string(EndedProcessId()), running = std::to_string(getppid());
  fs::path releases = out() / "releases";
  for (const fs::path& folder : {releases / (".v2.new-" + ended), releases / (".v1.2.new-" + ended),
                                 root_ / (".release.new-" + ended), releases / (".v2.new-" + running),
                                 releases / ".v2.new-", releases / (".v2.new-" + ended + "x"), releases / "v2.new-1",
                                 root_ / (".other.new-" + ended)}) {
    fs::create_directories(folder / "files");
    std::ofstream(folder / "files" / "half.dat") << "half";
  }
  std::ofstream(releases / (".v3.new-" + ended)) << "a file, not a staging folder";
  fs::create_directory_symlink(root_ / "build", releases / (".v4.new-" + ended));

  Write("a.dat", "two");
  PublishResult result = Publish(Options("2"), nullptr);
  ASSERT_TRUE(result.ok);
  std::vector<std::string> removed = result.staleStaging;
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{(root_ / (".release.new-" + ended)).string(),
                                               (releases / (".v1.2.new-" + ended)).string(),
                                               (releases / (".v2.new-" + ended)).string()}));
  for (const std::string& path : removed) EXPECT_FALSE(fs::exists(path)) << path;
  // A run still going, names of another pattern, a file and a link are left alone.
  for (const fs::path& kept : {releases / (".v2.new-" + running), releases / ".v2.new-",
                               releases / (".v2.new-" + ended + "x"), releases / "v2.new-1",
                               root_ / (".other.new-" + ended), releases / (".v3.new-" + ended)}) {
    EXPECT_TRUE(fs::exists(kept)) << kept;
  }
  EXPECT_TRUE(fs::is_symlink(releases / (".v4.new-" + ended)));
  EXPECT_EQ(Read(build() / "a.dat"), "two");
  EXPECT_EQ(Read(out() / "files" / "a.dat"), "two");
}

}  // namespace
