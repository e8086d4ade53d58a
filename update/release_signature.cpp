// Signed releases; see release_signature.h. The SHA-256 is axcrypt's (with its CPU kernels),
// the signature arithmetic is left to the caller's verifier.
#include "update/release_signature.h"
#include "core/text.h"
#include "core/base64.h"
#include "core/sha256.h"
#include <map>
#include <sstream>

const char kSignedVersionKey[] = ":signed version";
const char kSignedSerialKey[] = ":signed serial";

namespace {
constexpr char kFileHashPrefix[] = "sha256 ";
constexpr char kSignaturePrefix[] = "signature ";
constexpr char kSerialPrefix[] = "serial ";

std::string HexOf(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; i++) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 15];
  }
  return hex;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;  // upper case is not what publish writes
}

// "sha256 <hex> <path>": false unless exactly 64 hex digits and one blank precede the path.
bool ScanFileHashLine(const std::string& line, std::string& path, Sha256Digest& digest) {
  size_t start = strlen(kFileHashPrefix);
  if (line.size() < start + 65 || line[start + 64] != ' ') return false;
  for (size_t i = 0; i < 32; i++) {
    int high = HexValue(line[start + 2 * i]), low = HexValue(line[start + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  path = line.substr(start + 65);
  return true;
}

// The signed bytes and the signature of the last line; false when the last line (one LF or
// CR LF after it allowed) is not a well-formed signature line.
bool SplitSignature(const std::string& body, size_t& signedSize, P256Signature& signature) {
  size_t end = body.size();
  if (end > 0 && body[end - 1] == '\n') end--;
  if (end > 0 && body[end - 1] == '\r') end--;
  size_t lineStart = body.rfind('\n', end == 0 ? 0 : end - 1);
  lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
  std::string line = body.substr(lineStart, end - lineStart);
  if (lineStart == 0 || !StartsWith(line, kSignaturePrefix)) return false;
  signedSize = lineStart;
  return DecodeBase64Of64(line.substr(strlen(kSignaturePrefix)), signature);
}

// Every "sha256" line of the signed bytes; false for a malformed one or a path given two
// different digests.
bool ReadFileHashes(const std::string& text, std::map<std::string, Sha256Digest>& hashes, std::string& reason) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!StartsWith(line, kFileHashPrefix)) continue;
    std::string path;
    Sha256Digest digest;
    if (!ScanFileHashLine(line, path, digest)) {
      reason = "a malformed SHA-256 line";
      return false;
    }
    auto known = hashes.emplace(path, digest);
    if (!known.second && known.first->second != digest) {
      reason = "two SHA-256 values for " + path;
      return false;
    }
  }
  return true;
}

// Only the form SerialLine writes: 1 to 20 digits without a leading zero, below 2^64.
bool ParseSerial(const std::string& digits, uint64_t& serial) {
  if (digits.empty() || digits.size() > 20 || (digits[0] == '0' && digits.size() > 1)) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9' || value > (UINT64_MAX - (c - '0')) / 10) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  serial = value;
  return true;
}

}  // namespace

bool ReadReleaseSerial(const std::string& text, uint64_t& serial, std::string& reason) {
  std::istringstream lines(text);
  std::string line;
  bool seen = false;
  serial = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!StartsWith(line, kSerialPrefix)) continue;
    if (seen || !ParseSerial(line.substr(strlen(kSerialPrefix)), serial)) {
      reason = seen ? "two serial lines" : "a malformed serial line";
      return false;
    }
    seen = true;
  }
  return true;
}

namespace {

// Refused like an older version: a serial below the highest installed one, whatever its
// version (publish numbers releases in one series across versions, so an old release with a
// higher version number is caught too), or that serial again over other bytes.
bool OlderThanInstalled(const Manifest& parsed, const ReleaseCheck& check, std::string& reason) {
  if (parsed.serial < check.minSerial) {
    reason = Fmt("release serial %llu is older than serial %llu, the oldest this launcher takes",
                 static_cast<unsigned long long>(parsed.serial), static_cast<unsigned long long>(check.minSerial));
    return true;
  }
  if (!check.haveInstalled) return false;
  if (parsed.version < check.highestInstalled) {
    reason = Fmt("version %d is older than version %d, already installed here", parsed.version,
                 check.highestInstalled);
    return true;
  }
  if (!check.haveInstalledSerial) return false;
  unsigned long long serial = parsed.serial, installed = check.installedSerial;
  if (serial < installed) {
    reason = Fmt("version %d serial %llu is older than version %d serial %llu, already installed here",
                 parsed.version, serial, check.installedSerialVersion, installed);
    return true;
  }
  if (serial == installed && parsed.releaseTag != check.installedTag) {
    reason = Fmt("version %d serial %llu differs from the release of that serial already installed here",
                 parsed.version, serial);
    return true;
  }
  return false;
}

bool AttachFileHashes(const std::string& text, Manifest& manifest, std::string& reason) {
  std::map<std::string, Sha256Digest> hashes;
  if (!ReadFileHashes(text, hashes, reason)) return false;
  for (RemoteFile& file : manifest.files) {
    auto found = hashes.find(file.path);
    if (found == hashes.end()) {
      reason = "no SHA-256 for " + file.path;
      return false;
    }
    file.hasSha256 = true;
    file.sha256 = found->second;
  }
  return true;
}

bool VerifyBody(const std::string& body, const ReleaseCheck& check, size_t& signedSize, Sha256Digest& digest,
                std::string& reason) {
  P256Point key;
  if (!DecodeBase64Of64(check.publicKey, key)) {
    reason = "the launcher's release key is malformed";
    return false;
  }
  P256Signature signature;
  if (!SplitSignature(body, signedSize, signature)) {
    reason = "the manifest is not signed";
    return false;
  }
  digest = Sha256Of(body.data(), signedSize);
  if (!check.verify(key, digest, signature)) {
    reason = "the signature does not match (the manifest was changed or signed with another key)";
    return false;
  }
  return true;
}
}  // namespace

Sha256Digest Sha256Of(const void* data, size_t size) {
  Sha256Digest digest;
  sha256(data, size, digest.data());
  return digest;
}

std::string Base64Of(const uint8_t* data, size_t size) {
  std::string text(size / 3 * 4 + 8 + size / 57 * 2, '\0');
  text.resize(b64_encode(data, size, &text[0], text.size()));
  std::string plain;
  for (char c : text) {
    if (c != '\r' && c != '\n') plain += c;
  }
  return plain;
}

bool DecodeBase64Of64(const std::string& text, std::array<uint8_t, 64>& bytes) {
  uint8_t decoded[65];
  if (text.size() != 88 || b64_decode(text.c_str(), decoded, sizeof decoded) != 64) return false;
  if (Base64Of(decoded, 64) != text) return false;  // only the one exact spelling
  std::copy(decoded, decoded + 64, bytes.begin());
  return true;
}

std::string FileHashLine(const std::string& path, const Sha256Digest& digest) {
  return kFileHashPrefix + HexOf(digest.data(), digest.size()) + " " + path + "\n";
}

std::string SignatureLine(const P256Signature& signature) {
  return kSignaturePrefix + Base64Of(signature.data(), signature.size()) + "\n";
}

std::string SerialLine(uint64_t serial) {
  return kSerialPrefix + std::to_string(serial) + "\n";
}

bool CheckSignedRelease(const std::string& body, const ReleaseCheck& check, Manifest& manifest,
                        std::string& reason) {
  manifest = Manifest();
  size_t signedSize = 0;
  Sha256Digest digest{};
  if (!VerifyBody(body, check, signedSize, digest, reason)) return false;
  std::string signedText = body.substr(0, signedSize);
  Manifest parsed = ParseManifest(signedText);
  if (!parsed.accepted) {
    reason = "the signed text is not a manifest";
    return false;
  }
  if (!AttachFileHashes(signedText, parsed, reason) || !ReadReleaseSerial(signedText, parsed.serial, reason)) return false;
  parsed.releaseTag = static_cast<uint32_t>(digest[0]) << 24 | digest[1] << 16 | digest[2] << 8 | digest[3];
  if (OlderThanInstalled(parsed, check, reason)) return false;
  manifest = std::move(parsed);
  return true;
}
