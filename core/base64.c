/* Base64 (RFC 4648); see base64.h. */
#include "core/base64.h"

static const char B64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

static size_t b64_text_size(size_t length) {
  size_t chars = (length + 2) / 3 * 4;
  size_t breaks = chars > 0 ? (chars - 1) / 76 : 0;
  return chars + 2 * breaks;
}

typedef struct b64_writer {
  char* out;
  size_t written;
  int on_line;
} b64_writer;

static void b64_put(b64_writer* w, char c) {
  if (w->on_line == 76) {
    w->out[w->written++] = '\r';
    w->out[w->written++] = '\n';
    w->on_line = 0;
  }
  w->out[w->written++] = c;
  w->on_line++;
}

size_t b64_encode(const uint8_t* data, size_t length, char* out, size_t out_size) {
  if (out_size < b64_text_size(length) + 1) return 0;
  b64_writer w = {out, 0, 0};
  for (size_t i = 0; i < length; i += 3) {
    uint32_t group = (uint32_t)data[i] << 16;
    if (i + 1 < length) group |= (uint32_t)data[i + 1] << 8;
    if (i + 2 < length) group |= data[i + 2];
    b64_put(&w, B64[group >> 18]);
    b64_put(&w, B64[(group >> 12) & 63]);
    b64_put(&w, i + 1 < length ? B64[(group >> 6) & 63] : '=');
    b64_put(&w, i + 2 < length ? B64[group & 63] : '=');
  }
  out[w.written] = '\0';
  return w.written;
}

static int b64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

size_t b64_decode(const char* text, uint8_t* out, size_t out_size) {
  uint32_t bits = 0;
  int pending = 0;
  size_t kept = 0;
  for (; *text; text++) {
    int value = b64_value(*text);
    if (value < 0) continue;
    bits = ((bits << 6) | (uint32_t)value) & 0xFFFF;
    pending += 6;
    if (pending < 8) continue;
    pending -= 8;
    if (kept < out_size) out[kept++] = (uint8_t)(bits >> pending);
  }
  return kept;
}
