/* CAN frames as the programming library writes them to a link's "Write":
 * three hexadecimal digits of the identifier, two of the data length, then
 * two per data byte, nothing between them ("0230500000003FF"). */
#ifndef OVISP_LINKS_CAN_FRAME_TEXT_H
#define OVISP_LINKS_CAN_FRAME_TEXT_H

#include <stdint.h>
#include <string.h>

static inline int ov_can_hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Parses a frame text.  0 when it is not one: a digit missing or wrong, a
 * length above 8, or a length that disagrees with the data that follows. */
static inline int ov_can_parse_frame_text(const char* text, uint32_t* id, uint8_t* length, uint8_t data[8]) {
  if (text == NULL) return 0;
  /* Identifier, length and at most eight data bytes. */
  int digits[3 + 2 + 16];
  const size_t size = strnlen(text, sizeof digits / sizeof digits[0] + 1);
  if (size < 5 || size > sizeof digits / sizeof digits[0]) return 0;
  for (size_t i = 0; i < size; ++i) {
    digits[i] = ov_can_hex_digit(text[i]);
    if (digits[i] < 0) return 0;
  }
  const unsigned declared = (unsigned)(digits[3] * 16 + digits[4]);
  if (declared > 8 || size != 5 + 2 * (size_t)declared) return 0;
  *id = (uint32_t)(digits[0] << 8 | digits[1] << 4 | digits[2]);
  *length = (uint8_t)declared;
  for (unsigned i = 0; i < declared; ++i) data[i] = (uint8_t)(digits[5 + 2 * i] * 16 + digits[6 + 2 * i]);
  return 1;
}

#endif
