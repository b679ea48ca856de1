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

  // Runs Run once in a new thread. False when a run is still going.
  virtual bool Start();
  virtual bool Resume();
  virtual bool Suspend();
  // Sets the stop request and returns at once; never waits for the thread, so
  // it may be called from a handler the worker is waiting on.
  virtual void Terminate();

  // Waits until the current run (if any) has returned. Must not be called from
  // the worker itself.
  void Join();

 protected:
  virtual void Run() = 0;

  std::atomic<bool> stopRequested_{false};

 private:
  std::thread thread_;
};
