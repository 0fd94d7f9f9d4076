// SPDX-License-Identifier: MIT
#pragma once

#include <pthread.h>

#include <mutex>

namespace vrk::platform {

// A mutex that a fork() child never inherits held: fork waits until no thread
// holds it, and both processes go on with it free. One per tag, never
// destroyed, so a late call or a fork during exit finds it whole. Each user
// touches it while the library loads, so no thread is still making it when
// another forks.
template <typename Tag>
std::mutex& ForkSafeMutex() {
  static std::mutex* mutex = [] {
    auto* made = new std::mutex;
    ::pthread_atfork([] { ForkSafeMutex<Tag>().lock(); }, [] { ForkSafeMutex<Tag>().unlock(); },
                     [] { ForkSafeMutex<Tag>().unlock(); });
    return made;
  }();
  return *mutex;
}

}  // namespace vrk::platform
