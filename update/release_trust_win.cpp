// Signed releases in the launcher; see release_trust_win.h. The signature is checked with
// CNG; SHA-256 is our own (fast on CPUs with the SHA extensions, where the platform's runs
// far below download speed under some hosts).
#include "update/release_trust_win.h"
#include "core/globals_win.h"
#include "core/log.h"
#include "core/text.h"
#include "core/sha256.h"
#include "update/file_state_win.h"
#include <bcrypt.h>

std::string g_releaseKey;

namespace {
constexpr DWORD kHashPiece = 1048576;

bool InstalledRelease(int& version) {
  CacheEntry entry;
  if (!FindCacheEntry(kSignedVersionKey, entry)) return false;
  version = static_cast<int>(std::min<uint64_t>(entry.size, INT_MAX));
  return true;
}

std::string Hex(const Sha256Digest& digest) {
  std::string hex;
  for (uint8_t byte : digest) hex += Fmt("%02x", byte);
  return hex;
}

bool Sha256OfFile(const std::string& path, Sha256Digest& digest) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> buffer(kHashPiece);
  sha_ctx sha;
  sha_init(&sha);
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    ok = ReadFile(file, buffer.data(), kHashPiece, &got, nullptr) != 0;
    if (!ok || got == 0) break;
    sha_add(&sha, buffer.data(), got);
  }
  CloseHandle(file);
  sha_end(&sha, digest.data());
  return ok;
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

bool ParseVerifiedManifest(const std::string& body, Manifest& manifest) {
  ReleaseCheck check;
  check.publicKey = g_releaseKey;
  check.haveInstalled = InstalledRelease(check.highestInstalled);
  check.verify = VerifyWithCng;
  std::string reason;
  if (CheckSignedRelease(body, check, manifest, reason)) return true;
  LogLine("Refusing the release of %s: %s", g_server.c_str(), reason.c_str());
  return false;
}

void RecordInstalledRelease(int version) {
  int highest = 0;
  if (version < 0 || (InstalledRelease(highest) && highest >= version)) return;
  StoreCacheEntry(kSignedVersionKey, CacheEntry{0, static_cast<uint64_t>(version), 0});
  SaveCache();
}

bool FileMatchesSha256(const std::string& path, const RemoteFile& file) {
  if (!file.hasSha256) return true;
  Sha256Digest digest;
  if (Sha256OfFile(path, digest) && digest == file.sha256) return true;
  LogLine("SHA-256 mismatch on %s (got %s, expected %s)", file.path.c_str(), Hex(digest).c_str(),
          Hex(file.sha256).c_str());
  return false;
}
