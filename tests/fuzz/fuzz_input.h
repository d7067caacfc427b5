// The fuzz targets' reader of their input bytes: values are taken in order;
// past the end a value keeps what the rest of the input gave (zero-filled).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct FUZZ_INPUT_T {
  const std::uint8_t* data;
  std::size_t size;
  // Copy up to n bytes into dst; the rest of dst stays as it was (zeroed by the caller).
  void take(void* dst, std::size_t n) {
    const std::size_t k = size < n ? size : n;
    std::memcpy(dst, data, k);
    data += k;
    size -= k;
  }
  // The next value of type T (zero where the input ran out).
  template <typename T>
  T get() {
    T v{};
    take(&v, sizeof v);
    return v;
  }
  std::uint8_t byte() { return get<std::uint8_t>(); }
};
