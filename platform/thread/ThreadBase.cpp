#include "platform/thread/ThreadBase.h"

#include "platform/core_guard.h"

CThreadBase::CThreadBase() = default;

CThreadBase::~CThreadBase() {
  // A derived class has already ended the run; this only reaps a thread that
  // returned on its own, since a joinable std::thread may not be destroyed.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  if (thread_.joinable()) thread_.detach();
}

bool CThreadBase::Start() {
  if (thread_.joinable()) {
    if (running_.load()) return false;
    thread_.join();
  }
  // A stop request belongs to the run it was made for.
  stopRequested_.store(false);
  running_.store(true);
  thread_ = std::thread([this] {
    Run();
    running_.store(false);
  });
  return true;
}

// Pausing a thread at an arbitrary point could leave it holding a lock or a
// connection; the updater never needs it, so these only report that nothing
// was done.
bool CThreadBase::Resume() { return false; }

bool CThreadBase::Suspend() { return false; }

void CThreadBase::Terminate() { stopRequested_.store(true); }

void CThreadBase::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool CThreadBase::IsRunning() const { return running_.load(); }
