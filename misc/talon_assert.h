// Fatal consistency checks.
//
// A failed check is a fault of the program itself (a table overrun, a message
// length that does not match its type), never of received data: every module
// checks received bytes before they can reach an assertion. The check prints
// where it failed and aborts.
#pragma once

#include <source_location>

[[noreturn]] void talon_assert_fail(const char* what, const std::source_location& where);

inline void talon_assert(bool condition, const char* what,
                         const std::source_location& where = std::source_location::current()) {
  if (!condition) talon_assert_fail(what, where);
}
