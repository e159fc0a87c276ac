// A second thread for work that makes no call on the board's files, such as
// inflating: started once, joined before its owner goes; and the lock and
// conditions it shares with its owner (POSIX threads straight, so that no
// failure can surface as a C++ exception).
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

class ThreadLock {
 public:
  ThreadLock() { pthread_mutex_init(&mutex_, nullptr); }
  ~ThreadLock() { pthread_mutex_destroy(&mutex_); }
  ThreadLock(const ThreadLock&) = delete;
  ThreadLock& operator=(const ThreadLock&) = delete;

  // Holds the lock from its making to its end, but for where it lets go.
  class Held {
   public:
    explicit Held(ThreadLock& lock) : lock_(lock) { retake(); }
    ~Held() { release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // Lets go while the caller works without it, and takes it back.
    void release() {
      if (held_) pthread_mutex_unlock(&lock_.mutex_);
      held_ = false;
    }
    void retake() {
      if (!held_) pthread_mutex_lock(&lock_.mutex_);
      held_ = true;
    }

   private:
    friend class ThreadCondition;
    ThreadLock& lock_;
    bool held_ = false;
  };

 private:
  friend class ThreadCondition;
  pthread_mutex_t mutex_;
};

// What one side waits for under a ThreadLock; a wait may end for no reason,
// so every waiter checks its condition again.
class ThreadCondition {
 public:
  ThreadCondition() { pthread_cond_init(&condition_, nullptr); }
  ~ThreadCondition() { pthread_cond_destroy(&condition_); }
  ThreadCondition(const ThreadCondition&) = delete;
  ThreadCondition& operator=(const ThreadCondition&) = delete;

  void wait(ThreadLock::Held& held) { pthread_cond_wait(&condition_, &held.lock_.mutex_); }
  void wake() { pthread_cond_signal(&condition_); }
  // Wakes the waiter with the lock let go, so that it does not wake only to
  // wait for the lock, and takes the lock back.
  void wakeOutside(ThreadLock::Held& held) {
    held.release();
    wake();
    held.retake();
  }

 private:
  pthread_cond_t condition_;
};
