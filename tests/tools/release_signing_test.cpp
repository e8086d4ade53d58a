// Signed releases from key to check: keygen's files, publish --sign's manifest (read exactly
// as before by the unchanged parse), and the launcher's check with libcrypto as verifier:
// any changed byte, another key, no signature, a missing file hash or an older version is
// refused.
#include "tools/kmcontent/publish.h"
#include "tools/kmcontent/release_key.h"
#include "update/release_signature.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ReleaseSigning : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kmcontent-signing-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "keys");
    fs::create_directories(root_ / "other");
    std::string error;
    ASSERT_TRUE(GenerateReleaseKey((root_ / "keys").string(), error)) << error;
    ASSERT_TRUE(GenerateReleaseKey((root_ / "other").string(), error)) << error;
    ASSERT_TRUE(key_.Load((root_ / "keys" / "release.key").string(), error)) << error;
  }
  void TearDown() override { fs::remove_all(root_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  void WriteBuild(const std::string& relative, const std::string& bytes) {
    fs::path path = root_ / "build" / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }

  PublishResult PublishBuild(const std::string& signKey) {
    PublishOptions options;
    options.buildDir = (root_ / "build").string();
    options.info.version = "12";
    options.info.name = "Harvest";
    options.info.notes = {"New maps", ""};
    options.info.gameServer = "play.example.com:7000";
    options.dryRun = true;
    options.signKeyFile = signKey;
    return Publish(options, PublishProgressFn());
  }

  ReleaseCheck Check() {
    ReleaseCheck check;
    check.publicKey = Read(root_ / "keys" / "release.pub");
    check.publicKey.pop_back();  // the line end
    check.verify = VerifyWithLibcrypto;
    return check;
  }

  std::string Signed(const std::string& text) {
    P256Signature signature;
    std::string error;
    EXPECT_TRUE(key_.Sign(text, signature, error)) << error;
    return text + SignatureLine(signature);
  }

  fs::path root_;
  SigningKey key_;
};

TEST_F(ReleaseSigning, KeygenWritesAPrivateKeyOnlyTheOwnerReadsAndRefusesToOverwrite) {
  struct stat info;
  ASSERT_EQ(stat((root_ / "keys" / "release.key").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::string line = Read(root_ / "keys" / "release.pub");
  ASSERT_EQ(line.back(), '\n');
  P256Point point;
  EXPECT_TRUE(DecodeBase64Of64(line.substr(0, line.size() - 1), point));
  EXPECT_EQ(line.substr(0, line.size() - 1), key_.PublicKeyLine());

  std::string privateBefore = Read(root_ / "keys" / "release.key");
  fs::remove(root_ / "keys" / "release.pub");
  std::string error;
  EXPECT_FALSE(GenerateReleaseKey((root_ / "keys").string(), error));
  EXPECT_NE(error.find("refusing to overwrite"), std::string::npos) << error;
  EXPECT_EQ(Read(root_ / "keys" / "release.key"), privateBefore);
  EXPECT_FALSE(fs::exists(root_ / "keys" / "release.pub"));
}

TEST_F(ReleaseSigning, SignedManifestParsesExactlyAsTheUnsignedOneAndCarriesEveryFileHash) {
  WriteBuild("Kelmorra.exe", std::string(200000, 'k'));
  WriteBuild("data/a b.dat", "map");
  WriteBuild("empty.bin", "");
  PublishResult plain = PublishBuild("");
  PublishResult signedRun = PublishBuild((root_ / "keys" / "release.key").string());
  ASSERT_TRUE(plain.ok && signedRun.ok);
  ASSERT_EQ(signedRun.manifest.compare(0, plain.manifest.size(), plain.manifest), 0);

  Manifest before = ParseManifest(plain.manifest), after = ParseManifest(signedRun.manifest);
  EXPECT_EQ(after.version, before.version);
  EXPECT_EQ(after.name, before.name);
  EXPECT_EQ(after.notes, before.notes);
  EXPECT_EQ(after.gameServer, before.gameServer);
  EXPECT_TRUE(after.unsafePaths.empty());
  ASSERT_EQ(after.files.size(), 3u);
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(after.files[i].path, before.files[i].path);
    EXPECT_EQ(after.files[i].size, before.files[i].size);
    EXPECT_EQ(after.files[i].crc, before.files[i].crc);
    EXPECT_FALSE(after.files[i].hasSha256);
  }

  Manifest checked;
  std::string reason;
  ASSERT_TRUE(CheckSignedRelease(signedRun.manifest, Check(), checked, reason)) << reason;
  for (const RemoteFile& file : checked.files) {
    std::string bytes = Read(root_ / "build" / file.path);
    EXPECT_TRUE(file.hasSha256);
    EXPECT_EQ(file.sha256, Sha256Of(bytes.data(), bytes.size())) << file.path;
  }
  EXPECT_EQ(checked.notes, before.notes);
}

TEST_F(ReleaseSigning, EveryChangedByteAnotherKeyAndNoSignatureAreRefused) {
  std::string body = Signed("KMCONTENT\nversion 3\n0000002A 5 a.dat\n" + FileHashLine("a.dat", Sha256Digest{}));
  Manifest manifest;
  std::string reason;
  ASSERT_TRUE(CheckSignedRelease(body, Check(), manifest, reason)) << reason;
  for (size_t i = 0; i < body.size(); i++) {
    std::string changed = body;
    changed[i] ^= 0x01;
    EXPECT_FALSE(CheckSignedRelease(changed, Check(), manifest, reason)) << "byte " << i;
    EXPECT_TRUE(manifest.files.empty());
  }
  ReleaseCheck other = Check();
  other.publicKey = Read(root_ / "other" / "release.pub");
  other.publicKey.pop_back();
  EXPECT_FALSE(CheckSignedRelease(body, other, manifest, reason));
  EXPECT_NE(reason.find("signature does not match"), std::string::npos) << reason;

  std::string unsigned_ = body.substr(0, body.find("signature "));
  EXPECT_FALSE(CheckSignedRelease(unsigned_, Check(), manifest, reason));
  EXPECT_EQ(reason, "the manifest is not signed");
  EXPECT_FALSE(CheckSignedRelease(unsigned_ + "signature \n", Check(), manifest, reason));
}

TEST_F(ReleaseSigning, SignaturesOfManyTextsVerifyWhateverTheirLeadingZeros) {
  // About one signature in 128 has an r or s below 2^248; DER drops those zero bytes.
  for (int i = 0; i < 400; i++) {
    std::string body = Signed("KMCONTENT\nversion " + std::to_string(i) + "\n");
    Manifest manifest;
    std::string reason;
    ASSERT_TRUE(CheckSignedRelease(body, Check(), manifest, reason)) << i << ": " << reason;
    ASSERT_EQ(manifest.version, i);
  }
}

TEST_F(ReleaseSigning, FileWithoutItsHashConflictingHashesAndOlderVersionsAreRefused) {
  std::string files = "KMCONTENT\nversion 7\n0000002A 5 a.dat\n00000001 1 b.dat\n";
  Sha256Digest one{}, two{};
  two[0] = 1;
  Manifest manifest;
  std::string reason;
  EXPECT_FALSE(CheckSignedRelease(Signed(files + FileHashLine("a.dat", one)), Check(), manifest, reason));
  EXPECT_EQ(reason, "no SHA-256 for b.dat");
  std::string both = files + FileHashLine("a.dat", one) + FileHashLine("b.dat", two);
  EXPECT_FALSE(CheckSignedRelease(Signed(both + FileHashLine("b.dat", one)), Check(), manifest, reason));
  EXPECT_EQ(reason, "two SHA-256 values for b.dat");

  ReleaseCheck check = Check();
  check.haveInstalled = true;
  check.highestInstalled = 8;
  EXPECT_FALSE(CheckSignedRelease(Signed(both), check, manifest, reason));
  EXPECT_EQ(reason, "version 7 is older than version 8, already installed here");
  check.highestInstalled = 7;
  ASSERT_TRUE(CheckSignedRelease(Signed(both), check, manifest, reason)) << reason;
  EXPECT_EQ(manifest.files[1].sha256, two);
}

TEST_F(ReleaseSigning, TheSerialOrdersReleasesAcrossVersionsAndABuiltInMinimumIsAFloor) {
  std::string v7 = "KMCONTENT\nversion 7\n";
  auto body = [&](const std::string& version, uint64_t serial, const std::string& extra = "") {
    return Signed("KMCONTENT\nversion " + version + "\n" + extra + SerialLine(serial));
  };
  Manifest installed;
  std::string reason;
  std::string installedBody = body("7", 5);
  ASSERT_TRUE(CheckSignedRelease(installedBody, Check(), installed, reason)) << reason;
  EXPECT_EQ(installed.serial, 5u);
  ReleaseCheck check = Check();
  check.haveInstalled = check.haveInstalledSerial = true;
  check.highestInstalled = 7;
  check.installedSerial = 5;
  check.installedTag = installed.releaseTag;
  check.installedSerialVersion = 7;

  Manifest manifest;
  EXPECT_TRUE(CheckSignedRelease(installedBody, check, manifest, reason)) << reason;  // the same release again
  EXPECT_TRUE(CheckSignedRelease(body("7", 6), check, manifest, reason)) << reason;
  EXPECT_TRUE(CheckSignedRelease(body("8", 6), check, manifest, reason)) << reason;
  // Serials run across versions: an old release under a higher version number is still old.
  EXPECT_FALSE(CheckSignedRelease(body("8", 1), check, manifest, reason));
  EXPECT_EQ(reason, "version 8 serial 1 is older than version 7 serial 5, already installed here");
  EXPECT_FALSE(CheckSignedRelease(body("8", 5), check, manifest, reason));
  EXPECT_EQ(reason, "version 8 serial 5 differs from the release of that serial already installed here");
  EXPECT_FALSE(CheckSignedRelease(body("7", 4), check, manifest, reason));
  EXPECT_EQ(reason, "version 7 serial 4 is older than version 7 serial 5, already installed here");
  EXPECT_FALSE(CheckSignedRelease(body("7", 5, "name Other\n"), check, manifest, reason));
  EXPECT_EQ(reason, "version 7 serial 5 differs from the release of that serial already installed here");
  EXPECT_FALSE(CheckSignedRelease(body("6", 9), check, manifest, reason));
  EXPECT_EQ(reason, "version 6 is older than version 7, already installed here");
  EXPECT_TRUE(manifest.files.empty() && manifest.version == 0);

  // A version recorded by a launcher without serials: any serial of it is taken.
  check.haveInstalledSerial = false;
  EXPECT_TRUE(CheckSignedRelease(body("7", 4), check, manifest, reason)) << reason;
  // A fresh install with a built-in floor; a manifest without a serial line has serial 0.
  ReleaseCheck fresh = Check();
  fresh.minSerial = 5;
  EXPECT_TRUE(CheckSignedRelease(body("1", 5), fresh, manifest, reason)) << reason;
  EXPECT_FALSE(CheckSignedRelease(body("9", 4), fresh, manifest, reason));
  EXPECT_EQ(reason, "release serial 4 is older than serial 5, the oldest this launcher takes");
  EXPECT_FALSE(CheckSignedRelease(Signed(v7), fresh, manifest, reason));

  for (const char* line : {"serial 05\n", "serial \n", "serial 5x\n", "serial -5\n", "serial 18446744073709551616\n",
                           "serial 1\nserial 2\n"}) {
    EXPECT_FALSE(CheckSignedRelease(Signed(v7 + line), Check(), manifest, reason)) << line;
  }
  EXPECT_TRUE(CheckSignedRelease(Signed(v7 + "serial 18446744073709551615\n"), Check(), manifest, reason));
  EXPECT_EQ(manifest.serial, UINT64_MAX);
}

TEST_F(ReleaseSigning, EveryPublishOfATreeGetsAHigherSerialEvenWhenItsRecordIsLost) {
  WriteBuild("a.dat", "one");
  auto publishInto = [&](bool dryRun) {
    PublishOptions options;
    options.buildDir = (root_ / "build").string();
    options.outDir = (root_ / "release").string();
    options.info.version = "7";
    options.signKeyFile = (root_ / "keys" / "release.key").string();
    options.dryRun = dryRun;
    PublishResult result = Publish(options, PublishProgressFn());
    EXPECT_TRUE(result.ok);
    Manifest manifest;
    std::string reason;
    EXPECT_TRUE(CheckSignedRelease(result.manifest, Check(), manifest, reason)) << reason;
    return manifest.serial;
  };
  EXPECT_EQ(publishInto(false), 1u);
  EXPECT_EQ(publishInto(false), 2u);  // the same version again
  EXPECT_EQ(Read(root_ / "release" / "serial"), "serial 2\n");
  fs::remove(root_ / "release" / "serial");
  EXPECT_EQ(publishInto(false), 3u);  // read from the kept manifests
  EXPECT_EQ(publishInto(true), 4u);
  EXPECT_EQ(publishInto(false), 4u);  // a dry run writes nothing, not even its serial
}

}  // namespace
