// Signed releases in the launcher; see release_trust_win.h. The signature is checked with
// CNG; SHA-256 is our own (fast on CPUs with the SHA extensions, where the platform's runs
// far below download speed under some hosts).
#include "update/release_trust_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/text.h"
#include "core/sha256.h"
#include "update/file_hash_win.h"
#include "update/file_state_win.h"
#include "update/windows_name_key.h"
#include <bcrypt.h>

// The lowest release serial a fresh install takes (cmake -DKM_RELEASE_MIN_SERIAL=...): the
// newest serial when the launcher was built keeps even its first update from going back.
#ifndef KM_RELEASE_MIN_SERIAL
#define KM_RELEASE_MIN_SERIAL 0
#endif

std::string g_releaseKey;

namespace {
bool InstalledRelease(int& version) {
  CacheEntry entry;
  if (!FindCacheEntry(kSignedVersionKey, entry)) return false;
  version = static_cast<int>(std::min<uint64_t>(entry.size, INT_MAX));
  return true;
}

// The highest serial installed here, with its tag and the version it came with; false when
// none was recorded.
bool InstalledSerial(uint64_t& serial, uint32_t& tag, int& version) {
  CacheEntry entry;
  if (!FindCacheEntry(kSignedSerialKey, entry)) return false;
  serial = entry.size;
  tag = entry.crc;
  version = static_cast<int>(std::min<uint64_t>(entry.mtime, INT_MAX));
  return true;
}

std::string Hex(const Sha256Digest& digest) {
  std::string hex;
  for (uint8_t byte : digest) hex += Fmt("%02x", byte);
  return hex;
}

bool Sha256OfOpenFile(HANDLE file, Sha256Digest& digest) {
  sha_ctx sha;
  sha_init(&sha);
  bool whole = ReadFileInBlocks(file, [&sha](const unsigned char* data, size_t size) {
    sha_add(&sha, data, size);
    return true;
  });
  sha_end(&sha, digest.data());
  return whole;
}

bool Sha256OfFile(const std::string& path, Sha256Digest& digest) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool whole = Sha256OfOpenFile(file, digest);
  CloseHandle(file);
  return whole;
}

bool DigestMatches(bool whole, const Sha256Digest& digest, const RemoteFile& file) {
  if (whole && digest == file.sha256) return true;
  LogLine("SHA-256 mismatch on %s (got %s, expected %s)", file.path.c_str(), Hex(digest).c_str(),
          Hex(file.sha256).c_str());
  return false;
}
}  // namespace

bool VerifyWithCng(const P256Point& key, const Sha256Digest& digest, const P256Signature& signature) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    LogLine("Cannot open the platform's ECDSA P-256 provider");
    return false;
  }
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  memcpy(blob, &header, sizeof header);
  memcpy(blob + sizeof header, key.data(), key.size());
  BCRYPT_KEY_HANDLE handle = nullptr;
  bool valid = false;
  if (BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob, sizeof blob, 0))) {
    valid = BCRYPT_SUCCESS(BCryptVerifySignature(handle, nullptr, const_cast<PUCHAR>(digest.data()), 32,
                                                 const_cast<PUCHAR>(signature.data()), 64, 0));
    BCryptDestroyKey(handle);
  } else {
    LogLine("The platform refused the built-in release key");
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return valid;
}

bool CheckReleaseBody(const std::string& body, bool againstInstalled, Manifest& manifest, std::string& reason) {
  ReleaseCheck check;
  check.publicKey = g_releaseKey;
  if (againstInstalled) {
    check.haveInstalled = InstalledRelease(check.highestInstalled);
    check.haveInstalledSerial =
        check.haveInstalled && InstalledSerial(check.installedSerial, check.installedTag, check.installedSerialVersion);
    check.minSerial = static_cast<uint64_t>(KM_RELEASE_MIN_SERIAL);
  }
  check.verify = VerifyWithCng;
  return CheckSignedRelease(body, check, manifest, reason);
}

bool ParseVerifiedManifest(const std::string& body, Manifest& manifest) {
  std::string reason;
  if (CheckReleaseBody(body, true, manifest, reason)) return true;
  LogLine("Refusing the release of %s: %s", g_server.c_str(), reason.c_str());
  return false;
}

namespace {
// The signed release's client file, as the last verified manifest of this run gives it.
SRWLOCK g_clientLock = SRWLOCK_INIT;
RemoteFile g_signedClient;
bool g_signedClientKnown = false;

void RememberSignedClient(const Manifest& manifest) {
  AcquireSRWLockExclusive(&g_clientLock);
  g_signedClientKnown = false;
  for (const RemoteFile& file : manifest.files) {
    if (file.hasSha256 && WindowsNameKey(file.path) == "KELMORRA.EXE") {
      g_signedClient = file;
      g_signedClientKnown = true;
    }
  }
  ReleaseSRWLockExclusive(&g_clientLock);
}
}  // namespace

ClientCheck CheckSignedClient(const std::string& path, HANDLE& held) {
  held = INVALID_HANDLE_VALUE;
  AcquireSRWLockShared(&g_clientLock);
  bool known = g_signedClientKnown;
  RemoteFile client = g_signedClient;
  ReleaseSRWLockShared(&g_clientLock);
  if (!known) return ClientCheck::NotKnown;
  held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                     nullptr);
  if (held == INVALID_HANDLE_VALUE) return ClientCheck::NotKnown;  // the start reports why
  if (OpenFileMatchesSha256(held, client)) return ClientCheck::Matches;
  CloseHandle(held);
  held = INVALID_HANDLE_VALUE;
  return ClientCheck::Differs;
}

void RecordInstalledRelease(const Manifest& manifest) {
  RememberSignedClient(manifest);
  int highest = 0;
  bool have = InstalledRelease(highest);
  if (manifest.version < 0 || (have && highest > manifest.version)) return;
  uint64_t serial = 0;
  uint32_t tag = 0;
  int serialVersion = 0;
  bool same = have && highest == manifest.version && InstalledSerial(serial, tag, serialVersion) &&
              serialVersion == manifest.version && serial == manifest.serial && tag == manifest.releaseTag;
  if (same) return;
  uint64_t version = static_cast<uint64_t>(manifest.version);
  StoreCacheEntry(kSignedVersionKey, CacheEntry{0, version, 0});
  StoreCacheEntry(kSignedSerialKey, CacheEntry{manifest.releaseTag, manifest.serial, version});
  SaveCache();
}

bool FileMatchesSha256(const std::string& path, const RemoteFile& file) {
  if (!file.hasSha256) return true;
  Sha256Digest digest{};
  bool whole = Sha256OfFile(path, digest);
  return DigestMatches(whole, digest, file);
}

bool OpenFileMatchesSha256(void* openFile, const RemoteFile& file) {
  if (!file.hasSha256) return true;
  Sha256Digest digest{};
  bool whole = Sha256OfOpenFile(openFile, digest);
  return DigestMatches(whole, digest, file);
}
