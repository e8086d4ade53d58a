// TLS credentials and their reload; see tls_credentials.h.
#include "tools/kmcontent/tls_credentials.h"
#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>

const char kTlsPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

namespace {

constexpr unsigned kLongestChain = 16;

struct Credentials {
  gnutls_pcert_st chain[kLongestChain];
  unsigned length = 0;
  gnutls_privkey_t key = nullptr;

  ~Credentials() {
    for (unsigned i = 0; i < length; i++) gnutls_pcert_deinit(&chain[i]);
    if (key != nullptr) gnutls_privkey_deinit(key);
  }
};

std::atomic<Credentials*> g_current{nullptr};
std::vector<Credentials*> g_retired;  // only the main thread loads, so no lock

bool ReadWhole(const std::string& path, const char* what, std::string& text, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = std::string("cannot read the TLS ") + what + " " + path + ": " + strerror(errno);
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

gnutls_datum_t Datum(const std::string& text) {
  gnutls_datum_t datum;
  datum.data = reinterpret_cast<unsigned char*>(const_cast<char*>(text.data()));
  datum.size = static_cast<unsigned>(text.size());
  return datum;
}

// Whether key is the private half of the certificate's public key.
bool KeyMatches(const gnutls_pcert_st& leaf, gnutls_privkey_t key) {
  gnutls_pubkey_t ofKey = nullptr;
  if (gnutls_pubkey_init(&ofKey) < 0) return false;
  unsigned char a[64], b[64];
  size_t aSize = sizeof a, bSize = sizeof b;
  bool same = gnutls_pubkey_import_privkey(ofKey, key, 0, 0) >= 0 &&
              gnutls_pubkey_get_key_id(ofKey, 0, a, &aSize) >= 0 &&
              gnutls_pubkey_get_key_id(leaf.pubkey, 0, b, &bSize) >= 0 && aSize == bSize && memcmp(a, b, aSize) == 0;
  gnutls_pubkey_deinit(ofKey);
  return same;
}

bool Import(const std::string& cert, const std::string& key, Credentials& into, std::string& error) {
  gnutls_datum_t certData = Datum(cert), keyData = Datum(key);
  into.length = kLongestChain;
  int result = gnutls_pcert_list_import_x509_raw(into.chain, &into.length, &certData, GNUTLS_X509_FMT_PEM, 0);
  if (result < 0 || into.length == 0) {
    into.length = 0;
    return error = std::string("not a PEM certificate chain: ") + gnutls_strerror(result), false;
  }
  result = gnutls_privkey_init(&into.key);
  if (result >= 0) result = gnutls_privkey_import_x509_raw(into.key, &keyData, GNUTLS_X509_FMT_PEM, nullptr, 0);
  if (result < 0) return error = std::string("not a PEM private key: ") + gnutls_strerror(result), false;
  if (!KeyMatches(into.chain[0], into.key)) return error = "the key does not belong to the certificate", false;
  return true;
}

}  // namespace

bool LoadTlsCredentials(const std::string& certPath, const std::string& keyPath, std::string& error) {
  std::string cert, key;
  if (!ReadWhole(certPath, "certificate", cert, error) || !ReadWhole(keyPath, "key", key, error)) return false;
  auto* loaded = new Credentials;
  bool ok = Import(cert, key, *loaded, error);
  std::fill(key.begin(), key.end(), '\0');
  if (!ok) {
    error = certPath + ", " + keyPath + ": " + error;
    delete loaded;
    return false;
  }
  Credentials* previous = g_current.exchange(loaded);
  if (previous != nullptr) g_retired.push_back(previous);
  return true;
}

int CurrentTlsCredentials(gnutls_session_t, const gnutls_datum_t*, int, const gnutls_pk_algorithm_t*, int,
                          gnutls_pcert_st** chain, unsigned int* chainLength, gnutls_privkey_t* key) {
  Credentials* current = g_current.load();
  if (current == nullptr) return -1;
  *chain = current->chain;
  *chainLength = current->length;
  *key = current->key;
  return 0;
}
