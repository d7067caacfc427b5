// Fatal consistency checks.
//
// A failed check is a fault of the program itself (a table overrun, a message
// length that does not match its type), never of received data: every module
// checks received bytes before they can reach an assertion. The check prints
// where it failed and aborts. The call site is captured by the default
// arguments (the compiler builtins work with both GCC and Clang).
#pragma once

[[noreturn]] void talon_assert_fail(const char* what, const char* file, int line, const char* function);

inline void talon_assert(bool condition, const char* what, const char* file = __builtin_FILE(),
                         int line = __builtin_LINE(), const char* function = __builtin_FUNCTION()) {
  if (!condition) talon_assert_fail(what, file, line, function);
}
