// SPDX-License-Identifier: MIT
// Eight threads call every export at once; scripts/tsan.sh runs this under
// ThreadSanitizer. In any build each answer stays whole and belongs to the
// call that got it.
#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "Exports.h"

namespace vrk::test {
namespace {

TEST(Concurrency, EveryExportFromEightThreadsAtOnceAnswersWhole) {
  constexpr int kThreads = 8;
  // Registering and unregistering each wait for the clock once a round.
  constexpr int kRounds = 4;
  Platform platform;
  std::barrier start(kThreads);
  std::vector<std::vector<std::string>> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const Platform::Caller caller = platform.CallerNamed("T" + std::to_string(t));
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (const Export& e : Exports()) {
          std::string answer = e.call(Platform::Expand(e, caller));
          if (!WellFormed(e.kind, answer) || !e.sound(answer, caller.tag)) {
            problems[t].push_back(std::string(e.name) + ": " + answer.substr(0, 300));
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& list : problems) {
    for (const auto& problem : list) ADD_FAILURE() << problem;
  }
  EXPECT_TRUE(std::filesystem::is_empty(platform.world.SessionFolder()));
}

}  // namespace
}  // namespace vrk::test
