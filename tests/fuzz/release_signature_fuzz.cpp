// Fuzzes the signed-release check with a verifier that accepts every signature, so that the
// parse behind it is reached: an accepted body has a well-formed last signature line, its
// manifest is the plain parse of the signed bytes, every listed file carries a hash, and the
// floor of version and serial holds.
#include "update/release_signature.h"
#include <cstdlib>

namespace {
bool AcceptAll(const P256Point&, const Sha256Digest&, const P256Signature&) { return true; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  ReleaseCheck check;
  check.publicKey = std::string(86, 'A') + "==";
  check.haveInstalled = size % 2 == 1;
  check.highestInstalled = 5;
  check.haveInstalledSerial = size % 4 == 1;
  check.installedSerial = 3;
  check.installedSerialVersion = 4;
  check.minSerial = size % 3 == 0 ? 2 : 0;
  check.verify = AcceptAll;
  Manifest manifest;
  std::string reason;
  if (!CheckSignedRelease(body, check, manifest, reason)) {
    if (reason.empty() || !manifest.files.empty() || manifest.accepted) abort();
    return 0;
  }
  size_t signatureLine = body.rfind("\nsignature ");
  if (signatureLine == std::string::npos) abort();
  Manifest plain = ParseManifest(body.substr(0, signatureLine + 1));
  if (plain.files.size() != manifest.files.size() || plain.version != manifest.version) abort();
  if (check.haveInstalled && manifest.version < check.highestInstalled) abort();
  if (manifest.serial < check.minSerial) abort();
  // Serials run across versions: none below the installed one is taken, whatever its version.
  if (check.haveInstalledSerial && manifest.serial < check.installedSerial) abort();
  for (const RemoteFile& file : manifest.files) {
    if (!file.hasSha256) abort();
  }
  return 0;
}
