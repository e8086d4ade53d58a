/* First use of axcrypt from several threads at once, built with ThreadSanitizer: the S-box
 * build must happen once and be complete before any thread encrypts. Every thread waits at
 * a barrier, then expands a key and encrypts the FIPS-197 C.3 block; a wrong block or a
 * race report fails the run. It must run in a fresh process, hence its own program. */
#include "gameconfig/axcrypt.h"

#include <pthread.h>
#include <stdio.h>
#include <string.h>

enum { kThreads = 8 };

static pthread_barrier_t g_start;
static int g_wrong;
static pthread_mutex_t g_wrongLock = PTHREAD_MUTEX_INITIALIZER;

static void* first_use(void* unused) {
  (void)unused;
  static const uint8_t expected[16] = {0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf,
                                       0xea, 0xfc, 0x49, 0x90, 0x4b, 0x49, 0x60, 0x89};
  uint8_t key[32];
  uint8_t plain[16];
  uint8_t cipher[16];
  uint32_t schedule[60];
  for (int i = 0; i < 32; i++) key[i] = (uint8_t)i;
  for (int i = 0; i < 16; i++) plain[i] = (uint8_t)(i * 0x11);
  pthread_barrier_wait(&g_start);
  aes_key(key, schedule);
  aes_encrypt(schedule, plain, cipher);
  if (memcmp(cipher, expected, 16) != 0) {
    pthread_mutex_lock(&g_wrongLock);
    g_wrong++;
    pthread_mutex_unlock(&g_wrongLock);
  }
  return NULL;
}

int main(void) {
  pthread_t threads[kThreads];
  pthread_barrier_init(&g_start, NULL, kThreads);
  for (int i = 0; i < kThreads; i++) pthread_create(&threads[i], NULL, first_use, NULL);
  for (int i = 0; i < kThreads; i++) pthread_join(threads[i], NULL);
  printf("%d of %d threads got a wrong block\n", g_wrong, kThreads);
  return g_wrong == 0 ? 0 : 1;
}
