// CRC-32; see crc32.h. (Byte-table version; the fast kernels replace Crc32Update.)
#include "update/crc32.h"

uint32_t g_crcTable[256];

void Crc32Init() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; bit++) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    g_crcTable[i] = c;
  }
}

uint32_t Crc32UpdateBytewise(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; i++) crc = (crc >> 8) ^ g_crcTable[(crc ^ p[i]) & 0xFF];
  return crc;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
  return Crc32UpdateBytewise(crc, data, size);
}

uint32_t Crc32Of(const void* data, size_t size) {
  return ~Crc32Update(kCrc32Start, data, size);
}
