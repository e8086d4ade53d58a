// Signed releases: the lines a signing operator adds to a manifest, and the launcher's check
// of them. Both kinds of line begin with a word the manifest grammar reads as a malformed
// file line and skips, so a launcher without a release key reads a signed manifest exactly
// as the unsigned one:
//
//     serial <decimal>                                                 at most one
//     sha256 <64 lower-case hex digits> <path as in its file line>     one per file
//     signature <Base64 of r || s, 64 bytes>                           the last line
//
// The signature is ECDSA P-256 over the SHA-256 of every byte before the signature line. A
// release key is written as one line: Base64 of the public point X || Y (64 bytes).
//
// The serial grows with every publish of a release tree, whatever the version, so two
// releases published under one version (a hotfix) are ordered too: a launcher that installed
// the later one never goes back to the earlier. Without a serial line the serial is 0.
#pragma once
#include "core/base.h"
#include "update/manifest.h"
#include <array>

using Sha256Digest = std::array<uint8_t, 32>;
using P256Point = std::array<uint8_t, 64>;      // X || Y, big-endian
using P256Signature = std::array<uint8_t, 64>;  // r || s, big-endian

Sha256Digest Sha256Of(const void* data, size_t size);

// Base64 without line breaks, and its strict inverse: false for anything but the exact
// encoding of exactly 64 bytes.
std::string Base64Of(const uint8_t* data, size_t size);
bool DecodeBase64Of64(const std::string& text, std::array<uint8_t, 64>& bytes);

std::string FileHashLine(const std::string& path, const Sha256Digest& digest);  // with its LF
std::string SignatureLine(const P256Signature& signature);                      // with its LF
std::string SerialLine(uint64_t serial);                                          // with its LF

// The serial line of a manifest's text (0 without one); false, with the reason, for a
// malformed serial line or two of them.
bool ReadReleaseSerial(const std::string& text, uint64_t& serial, std::string& reason);

// Verifies an ECDSA P-256 signature of a SHA-256 digest (the platform's code, not ours).
using SignatureVerifier = bool (*)(const P256Point& key, const Sha256Digest& digest,
                                   const P256Signature& signature);

struct ReleaseCheck {
  std::string publicKey;        // the release key line built into the launcher
  bool haveInstalled = false;   // a signed release was installed in this folder before
  int highestInstalled = 0;     // the highest version of those
  bool haveInstalledSerial = false;  // the highest serial installed here, its tag and version, are known
  uint64_t installedSerial = 0;
  uint32_t installedTag = 0;
  int installedSerialVersion = 0;
  uint64_t minSerial = 0;       // built into the launcher: the floor of a fresh install
  SignatureVerifier verify = nullptr;
};

// The whole check of a manifest body. On success the manifest is the parse of the body
// with every listed file's SHA-256, the serial and the tag attached. On failure the manifest
// is left empty and reason says why, for the log: unsigned, signature not by this key or
// over other bytes, a file without its SHA-256, a malformed serial, or a release older than
// one already installed: a lower version, or a serial lower than the highest installed
// (whatever the version), or that serial with other signed bytes, or a serial below minSerial.
bool CheckSignedRelease(const std::string& body, const ReleaseCheck& check, Manifest& manifest,
                        std::string& reason);

// The cache keys under which the launcher records the signed release it installed. A
// manifest path can never be one of them (a ':' makes a path unsafe), and launchers without
// a release key keep the entries like any other. Version: size = the highest version.
// Serial: size = serial, mtime = the version it belongs to, CRC = the tag; launchers built
// before serials keep it untouched. Serials only grow across versions, so it counts whatever
// version the entry belongs to.
extern const char kSignedVersionKey[];
extern const char kSignedSerialKey[];
