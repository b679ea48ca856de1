// Shared mappings of whole files, through which a patch larger than memory
// should hold is decoded straight into its file.
//
// Where this layer maps no files (Windows: a fault in a mapped view would
// need structured exception handling, which the compiler used there lacks),
// FileMappingAvailable is false, Map fails with ENOSYS, and callers decode in
// memory instead.
#pragma once

#include <cstddef>

bool FileMappingAvailable();

class CFileMapping {
 public:
  CFileMapping() = default;
  ~CFileMapping();
  CFileMapping(const CFileMapping&) = delete;
  CFileMapping& operator=(const CFileMapping&) = delete;

  // Maps the first bytes of fd, read-only or writable (writes reach the
  // file). Mapping nothing succeeds. False with errno set.
  bool Map(int fd, std::size_t bytes, bool writable);
  unsigned char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

  // The mapping is read once from start to end.
  void AdviseSequential();

  // Lets go of this process's pages below upTo (whole pages); they stay in
  // the system's cache, and a later look back faults them in again.
  void DropPages(std::size_t upTo);

 private:
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Sets fd's size to size and reserves the space, so that a full disk fails
// here rather than as a fault in a mapping. 0, or the errno that says why not.
int ReserveFileSpace(int fd, long long size);

// Runs decode(job). A fault in a mapped file on this thread while it runs (the
// file truncated under it, an I/O error) ends it: faultText is returned
// instead of its result. Nothing with a destructor may live in decode's frame.
const char* RunGuardedAgainstMappingFaults(const char* (*decode)(const void* job, std::size_t& error),
                                           const void* job, std::size_t& error, const char* faultText);
