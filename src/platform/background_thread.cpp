#include "platform/background_thread.h"

bool BackgroundThread::start(void (*body)(void*), void* argument) {
  if (running_) return false;
  body_ = body;
  argument_ = argument;
  running_ = pthread_create(&thread_, nullptr, &BackgroundThread::run, this) == 0;
  return running_;
}

void BackgroundThread::join() {
  if (!running_) return;
  pthread_join(thread_, nullptr);
  running_ = false;
}

void* BackgroundThread::run(void* self) {
  auto* thread = static_cast<BackgroundThread*>(self);
  thread->body_(thread->argument_);
  return nullptr;
}
