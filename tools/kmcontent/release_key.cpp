// The release key with libcrypto; see release_key.h. OpenSSL speaks DER signatures and
// 65-byte uncompressed points; the launcher's platform verifier wants r || s and X || Y, so
// both are converted here.
#include "tools/kmcontent/release_key.h"
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <unistd.h>

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct SigFree {
  void operator()(ECDSA_SIG* sig) const { ECDSA_SIG_free(sig); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using Sig = std::unique_ptr<ECDSA_SIG, SigFree>;

bool PublicPoint(EVP_PKEY* key, P256Point& point) {
  uint8_t encoded[65];
  size_t size = 0;
  if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded, &size)) return false;
  if (size != 65 || encoded[0] != 4) return false;  // uncompressed: 04 || X || Y
  std::copy(encoded + 1, encoded + 65, point.begin());
  return true;
}

bool IsP256(EVP_PKEY* key) {
  char group[32] = "";
  size_t size = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &size) &&
         strcmp(group, "prime256v1") == 0;
}

Pkey PublicKeyFromPoint(const P256Point& point) {
  uint8_t encoded[65] = {4};
  std::copy(point.begin(), point.end(), encoded + 1);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded), OSSL_PARAM_construct_end()};
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
      EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
    return nullptr;
  }
  return Pkey(key);
}

// Creates the file with mode 0600 and writes the key; false when it exists or fails.
bool WritePrivateKey(const std::string& path, EVP_PKEY* key, std::string& error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = path + ": " + strerror(errno);
    return false;
  }
  FILE* file = fdopen(fd, "w");
  bool ok = file != nullptr && PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (file != nullptr ? fclose(file) != 0 : close(fd) != 0) ok = false;
  if (!ok) {
    error = path + ": cannot write the private key";
    unlink(path.c_str());
  }
  return ok;
}

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0 && close(fd) != 0) ok = false;
  if (!ok) error = path + ": " + strerror(errno);
  return ok;
}

}  // namespace

bool GenerateReleaseKey(const std::string& dir, std::string& error) {
  std::string privatePath = dir + "/release.key", publicPath = dir + "/release.pub";
  for (const std::string& path : {privatePath, publicPath}) {
    if (access(path.c_str(), F_OK) == 0) {
      error = path + " exists; refusing to overwrite a release key";
      return false;
    }
  }
  Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  P256Point point;
  if (!key || !PublicPoint(key.get(), point)) {
    error = "libcrypto could not generate a P-256 key";
    return false;
  }
  if (!WritePrivateKey(privatePath, key.get(), error)) return false;
  if (!WriteText(publicPath, Base64Of(point.data(), point.size()) + "\n", error)) {
    unlink(privatePath.c_str());
    return false;
  }
  return true;
}

SigningKey::~SigningKey() { EVP_PKEY_free(static_cast<EVP_PKEY*>(key_)); }

bool SigningKey::Load(const std::string& path, std::string& error) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) {
    error = path + ": " + strerror(errno);
    return false;
  }
  Pkey key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
  fclose(file);
  if (!key || !IsP256(key.get())) {
    error = path + ": not a P-256 private key in PEM form (make one with kmcontent keygen)";
    return false;
  }
  EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
  key_ = key.release();
  return true;
}

std::string SigningKey::PublicKeyLine() const {
  P256Point point;
  if (key_ == nullptr || !PublicPoint(static_cast<EVP_PKEY*>(key_), point)) return std::string();
  return Base64Of(point.data(), point.size());
}

bool SigningKey::Sign(const std::string& text, P256Signature& signature, std::string& error) const {
  Sha256Digest digest = Sha256Of(text.data(), text.size());
  PkeyCtx ctx(EVP_PKEY_CTX_new(static_cast<EVP_PKEY*>(key_), nullptr));
  uint8_t der[80];
  size_t derSize = sizeof der;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) <= 0 ||
      EVP_PKEY_sign(ctx.get(), der, &derSize, digest.data(), digest.size()) <= 0) {
    error = "libcrypto could not sign the manifest";
    return false;
  }
  const uint8_t* cursor = der;
  Sig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derSize)));
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) != 32) {
    error = "libcrypto gave a signature of an unexpected form";
    return false;
  }
  return true;
}

bool VerifyWithLibcrypto(const P256Point& point, const Sha256Digest& digest, const P256Signature& signature) {
  Pkey key = PublicKeyFromPoint(point);
  Sig sig(ECDSA_SIG_new());
  if (!key || !sig) return false;
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!ECDSA_SIG_set0(sig.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  uint8_t der[80];
  uint8_t* cursor = der;
  int derSize = i2d_ECDSA_SIG(sig.get(), &cursor);
  PkeyCtx ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
  return ctx && derSize > 0 && EVP_PKEY_verify_init(ctx.get()) > 0 &&
         EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) > 0 &&
         EVP_PKEY_verify(ctx.get(), der, static_cast<size_t>(derSize), digest.data(), digest.size()) == 1;
}

bool SignManifest(std::string& manifest, uint64_t serial,
                  const std::vector<std::pair<std::string, Sha256Digest>>& files, const SigningKey& key,
                  std::string& error) {
  std::string text = manifest + SerialLine(serial);
  for (const auto& file : files) text += FileHashLine(file.first, file.second);
  P256Signature signature;
  if (!key.Sign(text, signature, error)) return false;
  text += SignatureLine(signature);
  ReleaseCheck check;
  check.publicKey = key.PublicKeyLine();
  check.verify = VerifyWithLibcrypto;
  Manifest verified;
  std::string reason;
  if (!CheckSignedRelease(text, check, verified, reason) || verified.serial != serial) {
    error = "the signed manifest does not verify: " + (reason.empty() ? "its serial reads otherwise" : reason);
    return false;
  }
  manifest = text;
  return true;
}
