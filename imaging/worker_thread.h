// Threads of the printing core take no asynchronous signals: a signal sent
// to the process (a cancel, a lost reader, a timer) is always handled by the
// thread that runs the job, never by a worker in the middle of a line or a
// plane, and the handlers share nothing with the workers.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <utility>

// Blocks every asynchronous signal in the calling thread while it lives, and
// restores the previous mask. Faults (SIGSEGV and its kin) stay deliverable,
// so that a crash in a worker is still reported as a crash.
class AsyncSignalsBlocked {
 public:
  AsyncSignalsBlocked() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
      sigdelset(&blocked, fault);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~AsyncSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  AsyncSignalsBlocked(const AsyncSignalsBlocked&) = delete;
  AsyncSignalsBlocked& operator=(const AsyncSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

// Starts a thread that blocks the asynchronous signals from its first
// instruction on (a new thread inherits its creator's mask). Throws
// std::system_error as std::thread does when no thread can be had.
template <class Function, class... Args>
std::thread startWorkerThread(Function&& function, Args&&... args) {
  AsyncSignalsBlocked blocked;
  return std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
}
