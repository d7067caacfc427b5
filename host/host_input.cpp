// Input files of the file RTK runs: the regular-file check before each open.
#include "host/host_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

// errno of the last failed open of HOST_open_input; 0 when that path was refused.
int Open_errno = 0;

}  // namespace

int HOST_check_input(const char* path) {
  struct stat st {};
  if (::stat(path, &st) != 0 || S_ISREG(st.st_mode)) return 1;
  std::fprintf(stderr, "talonhost: %s: %s\n", path, S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file");
  return 0;
}

std::FILE* HOST_open_input(const char* path, const char* mode) {
  Open_errno = 0;
  if (!HOST_check_input(path)) return nullptr;
  std::FILE* fp = std::fopen(path, mode);
  if (fp == nullptr) Open_errno = errno;
  return fp;
}

void HOST_report_open_error(const char* path) {
  if (Open_errno != 0) std::fprintf(stderr, "talonhost: %s: %s\n", path, std::strerror(Open_errno));
}
