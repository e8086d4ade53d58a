// The operator's release key (ECDSA P-256, OpenSSL's libcrypto): generating the key pair,
// signing a manifest, and verifying a signature the way the launcher will.
#pragma once
#include "core/base.h"
#include "update/release_signature.h"

// Writes DIR/release.key (the private key, PEM, created with mode 0600) and DIR/release.pub
// (the public key line the launcher is built with). Refuses, writing nothing, when either
// file exists.
bool GenerateReleaseKey(const std::string& dir, std::string& error);

// A loaded private key; empty when loading failed.
class SigningKey {
 public:
  SigningKey() = default;
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  ~SigningKey();

  bool Load(const std::string& path, std::string& error);
  std::string PublicKeyLine() const;  // as in release.pub, without the line end
  bool Sign(const std::string& text, P256Signature& signature, std::string& error) const;

 private:
  void* key_ = nullptr;  // EVP_PKEY
};

// Adds the serial line, the SHA-256 lines (one per file, paths as in their file lines) and
// the signature line to a manifest text, then verifies the result as a launcher with this
// key would.
bool SignManifest(std::string& manifest, uint64_t serial,
                  const std::vector<std::pair<std::string, Sha256Digest>>& files, const SigningKey& key,
                  std::string& error);

// ECDSA P-256 verification of a SHA-256 digest with libcrypto (a SignatureVerifier).
bool VerifyWithLibcrypto(const P256Point& key, const Sha256Digest& digest, const P256Signature& signature);
