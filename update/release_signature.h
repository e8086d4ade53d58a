// Signed releases: the lines a signing operator adds to a manifest, and the launcher's check
// of them. Both kinds of line begin with a word the manifest grammar reads as a malformed
// file line and skips, so a launcher without a release key reads a signed manifest exactly
// as the unsigned one:
//
//     sha256 <64 lower-case hex digits> <path as in its file line>     one per file
//     signature <Base64 of r || s, 64 bytes>                           the last line
//
// The signature is ECDSA P-256 over the SHA-256 of every byte before the signature line. A
// release key is written as one line: Base64 of the public point X || Y (64 bytes).
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

// Verifies an ECDSA P-256 signature of a SHA-256 digest (the platform's code, not ours).
using SignatureVerifier = bool (*)(const P256Point& key, const Sha256Digest& digest,
                                   const P256Signature& signature);

struct ReleaseCheck {
  std::string publicKey;        // the release key line built into the launcher
  bool haveInstalled = false;   // a signed release was installed in this folder before
  int highestInstalled = 0;     // the highest version of those
  SignatureVerifier verify = nullptr;
};

// The whole check of a manifest body. On success the manifest is the parse of the body
// with every listed file's SHA-256 attached. On failure the manifest is left empty and
// reason says why, for the log: unsigned, signature not by this key or over other bytes,
// a file without its SHA-256, or a version older than one already installed.
bool CheckSignedRelease(const std::string& body, const ReleaseCheck& check, Manifest& manifest,
                        std::string& reason);

// The cache key under which the launcher records the highest signed version it installed.
// A manifest path can never be this key (a ':' makes a path unsafe), and launchers without
// a release key keep the entry like any other.
extern const char kSignedVersionKey[];
