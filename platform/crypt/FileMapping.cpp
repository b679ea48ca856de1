#include "platform/crypt/FileMapping.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/core_guard.h"

bool FileMappingAvailable() { return true; }

CFileMapping::~CFileMapping() {
  if (data_ != nullptr) ::munmap(data_, size_);
}

bool CFileMapping::Map(int fd, std::size_t bytes, bool writable) {
  if (bytes == 0) return true;
  void* address = ::mmap(nullptr, bytes, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) return false;
  data_ = static_cast<unsigned char*>(address);
  size_ = bytes;
  return true;
}

void CFileMapping::AdviseSequential() {
  if (data_ != nullptr) ::madvise(data_, size_, MADV_SEQUENTIAL);
}

void CFileMapping::DropPages(std::size_t upTo) {
  if (data_ == nullptr) return;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t done = upTo >= size_ ? size_ : upTo / page * page;
  if (done > 0) ::madvise(data_, done, MADV_DONTNEED);
}

int ReserveFileSpace(int fd, long long size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return errno;
  const int reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
  return reserved == EOPNOTSUPP || reserved == EINVAL ? 0 : reserved;
}

namespace {

// A fault in a mapped file arrives as SIGBUS. While a guarded run is under
// way on a thread, such a fault there ends that run; anywhere else the signal
// goes on to the handler that was installed before.
thread_local sigjmp_buf* tBusJump = nullptr;
struct sigaction gPreviousBus;

void OnBus(int signal, siginfo_t* info, void* context) {
  if (tBusJump != nullptr) siglongjmp(*tBusJump, 1);
  if ((gPreviousBus.sa_flags & SA_SIGINFO) != 0 && gPreviousBus.sa_sigaction != nullptr) {
    gPreviousBus.sa_sigaction(signal, info, context);
  } else if (gPreviousBus.sa_handler != SIG_DFL && gPreviousBus.sa_handler != SIG_IGN) {
    gPreviousBus.sa_handler(signal);
  } else {
    // Returning re-runs the faulting access, which now ends the process as
    // it would have without this handler.
    ::sigaction(SIGBUS, &gPreviousBus, nullptr);
  }
}

void InstallBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = &OnBus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &gPreviousBus);
  });
}

}  // namespace

const char* RunGuardedAgainstMappingFaults(const char* (*decode)(const void* job, std::size_t& error),
                                           const void* job, std::size_t& error, const char* faultText) {
  InstallBusHandler();
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) {
    tBusJump = nullptr;
    return faultText;
  }
  tBusJump = &jump;
  const char* problem = decode(job, error);
  tBusJump = nullptr;
  return problem;
}
