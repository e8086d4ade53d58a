// Fuzzes axcrypt's readers of untrusted text. The first byte picks the check:
//   decrypt: any text into an output buffer of any size stays inside it and is a string;
//   base64:  any bytes encode to lines of at most 76 characters that decode back to them;
//   field:   any plain text of 1..128 bytes encrypts and decrypts back to itself.
// Decrypting a text of a valid length and the field check run the key derivation (8192
// hashes), so they get one selector value in eight each and Base64 the rest.
#include "core/base64.h"
#include "gameconfig/axcrypt.h"
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kPass = "zmxncbvlaksjdhfgpqowieurytzmxncb";

void CheckDecrypt(const std::string& text, size_t outSize) {
  std::vector<char> out(outSize + 1, '\x7f');  // one guard byte past the buffer
  int n = ax_decrypt(kPass, text.c_str(), out.data(), outSize);
  if (outSize == 0) {
    if (n != 0 || out[0] != '\x7f') abort();
    return;
  }
  if (n < 0 || static_cast<size_t>(n) >= outSize || strlen(out.data()) != static_cast<size_t>(n)) abort();
  if (out[outSize] != '\x7f') abort();
}

void CheckBase64(const uint8_t* data, size_t size) {
  std::vector<char> text(size * 2 + 8);
  size_t n = b64_encode(data, size, text.data(), text.size());
  if (n + 1 > text.size() || text[n] != '\0') abort();
  size_t onLine = 0;
  for (size_t i = 0; i < n; i++) {
    onLine = text[i] == '\n' ? 0 : onLine + 1;
    if (onLine > 77) abort();  // 76 characters and the CR
  }
  std::vector<uint8_t> back(size + 1);
  if (b64_decode(text.data(), back.data(), back.size()) != size) abort();
  if (size > 0 && memcmp(back.data(), data, size) != 0) abort();
}

void CheckField(const std::string& plain, int64_t seconds) {
  char text[AX_MIN_OUTPUT];
  int n = ax_encrypt_at(kPass, plain.c_str(), seconds, text, sizeof text);
  size_t length = strlen(plain.c_str());
  if (length == 0 || length > AX_MAX_PLAIN) {
    if (n != 0) abort();
    return;
  }
  char out[AX_MAX_PLAIN + 1];
  if (n <= 0 || ax_decrypt(kPass, text, out, sizeof out) != static_cast<int>(length)) abort();
  if (memcmp(out, plain.c_str(), length) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t selector = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  if (selector % 8 == 0) {
    CheckField(rest, static_cast<int64_t>(data[1]) << 24);
  } else if (selector % 8 == 1) {
    CheckDecrypt(rest, data[1] % 64 == 0 ? data[1] : data[1] % 8);
  } else {
    CheckBase64(data + 2, size - 2);
  }
  return 0;
}
