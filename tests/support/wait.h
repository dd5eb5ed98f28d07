// Waiting for a condition that another thread or process makes true.
#ifndef STATRELAY_TESTS_SUPPORT_WAIT_H_
#define STATRELAY_TESTS_SUPPORT_WAIT_H_

#include <chrono>
#include <thread>

namespace sr_test {

// Polls `condition` until it holds; false when `limit` passed first, so that a
// slow machine fails loudly instead of a test passing without checking.
// For conditions that nothing can signal (a file another process writes);
// where the code under test can signal, wait on that instead.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace sr_test

#endif  // STATRELAY_TESTS_SUPPORT_WAIT_H_
