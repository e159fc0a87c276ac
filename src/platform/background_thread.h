// A second thread for work that makes no call on the board's files, such as
// inflating: started once, joined before its owner goes.
#pragma once

#include <pthread.h>

class BackgroundThread {
 public:
  BackgroundThread() = default;
  ~BackgroundThread() { join(); }
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  // Runs body(argument) on a thread of its own. False when the system has
  // none to give; the caller then does the work itself.
  bool start(void (*body)(void*), void* argument);
  // Waits for the body to return; nothing when none was started.
  void join();

 private:
  static void* run(void* self);

  pthread_t thread_{};
  bool running_ = false;
  void (*body_)(void*) = nullptr;
  void* argument_ = nullptr;
};
