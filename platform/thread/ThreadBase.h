// A worker thread whose body is the derived class's Run.
#pragma once

#include <atomic>
#include <thread>

class CThreadBase {
 public:
  CThreadBase();
  // Does not stop the thread: a derived class must end its run in its own
  // destructor (Run uses the derived members). See CDownFileThread.
  virtual ~CThreadBase();
  CThreadBase(const CThreadBase&) = delete;
  CThreadBase& operator=(const CThreadBase&) = delete;

  // Runs Run once in a new thread and clears the stop request. False when a
  // run is still going.
  virtual bool Start();
  // Not supported (pausing at an arbitrary point could leave a lock held);
  // both return false.
  virtual bool Resume();
  virtual bool Suspend();
  // Sets the stop request and returns at once; never waits for the thread, so
  // it may be called from a handler the worker is waiting on.
  virtual void Terminate();

  // Waits until the current run (if any) has returned. Does nothing when
  // called from the worker itself.
  void Join();

  // True from Start until Run has returned.
  bool IsRunning() const;

 protected:
  virtual void Run() = 0;

  std::atomic<bool> stopRequested_{false};

 private:
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// Makes the calling thread yield the processor to the process's other threads
// (Linux: a nice value steps higher, and the threads it starts from now on
// inherit it; Windows: a lower thread priority, which they do not). For
// background work beside work that waits on the network. Cannot be undone.
void LowerCurrentThreadPriority(int steps);
