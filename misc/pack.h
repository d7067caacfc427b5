// Field encoder and decoder of the host link, and the frame checksum.
//
// A format string has one letter per field; blanks are ignored:
//   c  1 byte,  the low 8 bits of the value
//   s  2 bytes, the low 16 bits, big-endian
//   l  4 bytes, 32 bits, big-endian
//   f  4 bytes, IEEE-754 single, its bits big-endian
// pack() takes each c/s/l value as an int or unsigned int (any 32-bit
// integer after the usual promotions) and each f value as a double.
// unpack() takes pointers to U08/S08 (c), U16/S16 (s), U32/S32 (l) or F32 (f)
// and stores exactly the field's width there; a signed destination of the same
// width receives the two's-complement value.
// Any other letter stops with -1.
#pragma once

#include "misc/gnss_types.h"

// Encodes the values that follow fmt, one per field letter, into the caller's
// buf (room for every field: 1, 2 or 4 bytes a letter). Returns the number of
// bytes written, or -1 at an unknown letter (the fields before it are written).
int pack(U08* buf, const char* fmt, ...);
// Decodes the fields of fmt from buf into the caller's variables, one pointer
// per field letter. Returns the number of bytes read, or -1 at an unknown
// letter (the fields before it are stored).
int unpack(const U08* buf, const char* fmt, ...);

// XOR of buf[0..len-1]; 0 for len 0.
U08 calc_checksum(const U08* buf, int len);
// Store calc_checksum(buf, len) at buf[len]; returns len + 1.
int append_checksum(U08* buf, int len);
