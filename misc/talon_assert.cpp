#include "misc/talon_assert.h"

#include <cstdio>
#include <cstdlib>

void talon_assert_fail(const char* what, const char* file, int line, const char* function) {
  std::fflush(stdout);
  std::fprintf(stderr, "FATAL: %s (%s:%d, %s)\n", what, file, line, function);
  std::abort();
}
