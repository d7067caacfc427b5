// A CSV line built in a fixed buffer (no allocation per row): the row writers
// of --meas-csv and --fix-csv append fields and write the buffer at once.
// Text beyond the buffer is cut (rows are far shorter than its 512 bytes).
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

struct HOST_CSV_LINE_T {
  std::array<char, 512> buf{};
  std::size_t n = 0;
  void text(const char* t) {
    const std::size_t k = std::strlen(t);
    if (n + k < buf.size()) {
      std::memcpy(buf.data() + n, t, k);
      n += k;
    }
  }
  void integer(long v) { grow(std::snprintf(buf.data() + n, buf.size() - n, "%ld", v)); }
  // v with the given number of decimals
  void fixed(double v, int decimals) { grow(std::snprintf(buf.data() + n, buf.size() - n, "%.*f", decimals, v)); }
  void letter(char c) {
    if (n + 1 < buf.size()) buf[n++] = c;
  }
  void grow(int r) {
    if (r > 0) n = std::min(n + static_cast<std::size_t>(r), buf.size() - 1);
  }
};
