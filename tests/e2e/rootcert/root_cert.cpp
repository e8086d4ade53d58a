// Test helper of the e2e tests: adds a DER certificate to the Wine prefix's machine "Root"
// store, or removes it again, so that a test CA is trusted in this prefix only.
// Usage: root_cert add|remove <file.der>; exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
bool ReadAll(const char* path, std::vector<unsigned char>& bytes) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  unsigned char chunk[4096];
  size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(file);
  return !bytes.empty();
}

bool Remove(HCERTSTORE store, const std::vector<unsigned char>& der) {
  PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  if (!wanted) return false;
  PCCERT_CONTEXT found =
      CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
  CertFreeCertificateContext(wanted);
  return found && CertDeleteCertificateFromStore(found);  // frees found
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<unsigned char> der;
  if (argc != 3 || !ReadAll(argv[2], der)) {
    fprintf(stderr, "usage: root_cert add|remove <file.der>\n");
    return 2;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (!store) return 1;
  bool done = strcmp(argv[1], "add") == 0
                  ? CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
                  : Remove(store, der);
  if (!done) fprintf(stderr, "root_cert %s failed: %lu\n", argv[1], GetLastError());
  CertCloseStore(store, 0);
  return done ? 0 : 1;
}
