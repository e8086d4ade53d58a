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

}  // namespace
