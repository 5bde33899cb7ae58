// POSIX forms of the platform services: paths are byte strings, files are told apart by
// device and inode.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "container/platform.h"

size_t PathLength(const char* path) { return std::strlen(path); }

FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

namespace {
FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}
}  // namespace

bool StreamIdentity(FILE* stream, FileIdentity* identity) {
  struct stat info {};
  if (stream == nullptr || fstat(fileno(stream), &info) != 0 || S_ISCHR(info.st_mode)) return false;
  *identity = IdentityOf(info);
  return true;
}

bool PathIdentity(const char* path, FileIdentity* identity) {
  struct stat info {};
  if (stat(path, &info) != 0 || S_ISCHR(info.st_mode)) return false;
  *identity = IdentityOf(info);
  return true;
}

void UseUtf8Arguments(int*, char***) {}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }
