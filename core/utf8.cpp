// UTF-8 checks; see utf8.h. The ranges are those of the well-formed byte sequences of the
// Unicode standard (table 3-7).
#include "core/utf8.h"

namespace {
bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// The length of the well-formed sequence at text[i], or 0 when there is none.
size_t SequenceLength(std::string_view text, size_t i) {
  unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4 || i + length > text.size()) return 0;
  // The second byte's range depends on the lead: it rules out overlong forms, surrogates
  // and code points above U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
  if (!InRange(static_cast<unsigned char>(text[i + 1]), low, high)) return 0;
  for (size_t k = 2; k < length; k++) {
    if (!InRange(static_cast<unsigned char>(text[i + k]), 0x80, 0xBF)) return 0;
  }
  return length;
}
}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t length = SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

size_t WithoutCutCharacter(std::string_view text) {
  // Back over at most three continuation bytes to the last lead byte.
  size_t lead = text.size();
  while (lead > 0 && text.size() - lead < 4 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) lead--;
  if (lead == 0) return text.size();
  unsigned char c = static_cast<unsigned char>(text[lead - 1]);
  if (c < 0xC0) return text.size();  // ASCII, or continuation bytes without a lead
  size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  return text.size() - (lead - 1) < length ? lead - 1 : text.size();
}

size_t Utf8CharacterCount(std::string_view text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}
