#include "misc/talon_assert.h"

#include <cstdio>
#include <cstdlib>

void talon_assert_fail(const char* what, const std::source_location& where) {
  std::fflush(stdout);
  std::fprintf(stderr, "FATAL: %s (%s:%u, %s)\n", what, where.file_name(),
               static_cast<unsigned>(where.line()), where.function_name());
  std::abort();
}
