#include "misc/pack.h"

#include <cstdarg>
#include <cstring>

int pack(U08* buf, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = 0;
  for (const char* p = fmt; *p != '\0'; ++p) {
    switch (*p) {
      case ' ':
        break;
      case 'c': {
        const unsigned v = va_arg(ap, unsigned);
        buf[n++] = static_cast<U08>(v & 0xFFu);
        break;
      }
      case 's': {
        const unsigned v = va_arg(ap, unsigned);
        buf[n++] = static_cast<U08>((v >> 8) & 0xFFu);
        buf[n++] = static_cast<U08>(v & 0xFFu);
        break;
      }
      case 'l':
      case 'f': {
        U32 v = 0;
        if (*p == 'l') {
          v = va_arg(ap, unsigned);
        } else {
          const F32 f = static_cast<F32>(va_arg(ap, double));
          std::memcpy(&v, &f, sizeof v);
        }
        buf[n++] = static_cast<U08>(v >> 24);
        buf[n++] = static_cast<U08>(v >> 16);
        buf[n++] = static_cast<U08>(v >> 8);
        buf[n++] = static_cast<U08>(v);
        break;
      }
      default:
        va_end(ap);
        return -1;
    }
  }
  va_end(ap);
  return n;
}

int unpack(const U08* buf, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = 0;
  for (const char* p = fmt; *p != '\0'; ++p) {
    switch (*p) {
      case ' ':
        break;
      case 'c': {
        U08* d = va_arg(ap, U08*);
        *d = buf[n++];
        break;
      }
      case 's': {
        const U16 v = static_cast<U16>((buf[n] << 8) | buf[n + 1]);
        n += 2;
        std::memcpy(va_arg(ap, void*), &v, sizeof v);
        break;
      }
      case 'l':
      case 'f': {
        const U32 v = (static_cast<U32>(buf[n]) << 24) | (static_cast<U32>(buf[n + 1]) << 16) |
                      (static_cast<U32>(buf[n + 2]) << 8) | static_cast<U32>(buf[n + 3]);
        n += 4;
        std::memcpy(va_arg(ap, void*), &v, sizeof v);
        break;
      }
      default:
        va_end(ap);
        return -1;
    }
  }
  va_end(ap);
  return n;
}

U08 calc_checksum(const U08* buf, int len) {
  U08 x = 0;
  for (int i = 0; i < len; ++i) x ^= buf[i];
  return x;
}

int append_checksum(U08* buf, int len) {
  buf[len] = calc_checksum(buf, len);
  return len + 1;
}
