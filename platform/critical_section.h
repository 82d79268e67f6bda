#pragma once

#include <mutex>

// The lock of every structure that two threads share. Lock and Unlock pair on one
// thread; it is also BasicLockable, so std::lock_guard<CCriticalSection> works.
class CCriticalSection {
 public:
  CCriticalSection() = default;
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Lock() { mutex.lock(); }
  void Unlock() { mutex.unlock(); }
  void lock() { mutex.lock(); }
  void unlock() { mutex.unlock(); }

 private:
  std::mutex mutex;
};

using CriticalSectionGuard = std::lock_guard<CCriticalSection>;
