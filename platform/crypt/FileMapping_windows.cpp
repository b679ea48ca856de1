#include <cerrno>

#include "platform/core_guard.h"
#include "platform/crypt/FileMapping.h"
#include "platform/win32/Files.h"

// A fault in a view of a file (the file cut short under it, a failing disk)
// is an in-page exception, which only structured exception handling catches;
// GCC has none. Large patches are decoded in memory here instead.
bool FileMappingAvailable() { return false; }

CFileMapping::~CFileMapping() = default;

bool CFileMapping::Map(int, std::size_t bytes, bool) {
  if (bytes == 0) return true;
  errno = ENOSYS;
  return false;
}

void CFileMapping::AdviseSequential() {}

void CFileMapping::DropPages(std::size_t) {}

int ReserveFileSpace(int fd, long long size) { return TruncateDescriptor(fd, size) ? 0 : errno; }

const char* RunGuardedAgainstMappingFaults(const char* (*decode)(const void* job, std::size_t& error),
                                           const void* job, std::size_t& error, const char*) {
  return decode(job, error);
}
