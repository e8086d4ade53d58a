/* A command-line face of axcrypt for the cross-check against an independent implementation:
 *   axcrypt_cli encrypt PASS SECONDS PLAIN   prints the text form made at that time
 *   axcrypt_cli encrypt-now PASS PLAIN       the same at the current time
 *   axcrypt_cli decrypt PASS                 reads a text form on stdin, prints the plain text
 * Written in C on purpose: it also proves the module is usable from C. */
#include "gameconfig/axcrypt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int print_text(int length, const char* text) {
  if (length <= 0) return 1;
  fwrite(text, 1, (size_t)length, stdout);
  return 0;
}

static int run_decrypt(const char* passphrase) {
  static char text[65536];
  size_t got = fread(text, 1, sizeof text - 1, stdin);
  text[got] = '\0';
  char plain[1024];
  int length = ax_decrypt(passphrase, text, plain, sizeof plain);
  fwrite(plain, 1, (size_t)length, stdout);
  return 0;
}

int main(int argc, char** argv) {
  char text[AX_MIN_OUTPUT];
  if (argc == 5 && strcmp(argv[1], "encrypt") == 0) {
    long long seconds = strtoll(argv[3], NULL, 10);
    return print_text(ax_encrypt_at(argv[2], argv[4], seconds, text, sizeof text), text);
  }
  if (argc == 4 && strcmp(argv[1], "encrypt-now") == 0) {
    return print_text(ax_encrypt(argv[2], argv[3], text, sizeof text), text);
  }
  if (argc == 3 && strcmp(argv[1], "decrypt") == 0) return run_decrypt(argv[2]);
  fprintf(stderr, "usage: axcrypt_cli encrypt PASS SECONDS PLAIN | encrypt-now PASS PLAIN | decrypt PASS\n");
  return 2;
}
