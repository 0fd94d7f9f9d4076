// SPDX-License-Identifier: MIT
// Eight threads call every export at once with Sketch in front (scripts/tsan.sh
// runs this under ThreadSanitizer): each answer stays whole and belongs to the
// call that got it, and the plug-in's name file always holds one whole name.
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <set>
#include <thread>

#include "Exports.h"

namespace vrk::test {
namespace {

TEST(Concurrency, EveryExportFromEightThreadsAtOnceAnswersWhole) {
  constexpr int kThreads = 8, kRounds = 4;  // each round waits for the clock twice
  Platform platform;
  platform.windows.front = Windows({"Sketch"});
  std::vector<Platform::Caller> callers;
  std::set<std::string> names;  // lengths far apart: a mixture is told from both
  for (int t = 0; t < kThreads; ++t) {
    names.insert(std::string(size_t{1} << (2 * t), static_cast<char>('A' + t)));
    callers.push_back(platform.CallerNamed("T" + std::to_string(t), *names.rbegin(), "Sketch"));
  }
  const std::string folder = platform.world.Path(
      "data/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin/Contents/Sketch");
  std::filesystem::create_directories(folder);
  WriteFile(folder + "/KelvraFontName.txt", "A");
  std::barrier start(kThreads + 1);
  std::atomic<int> running = kThreads, mixed = 0;
  std::vector<std::string> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (const Export& e : kExports) {
          const std::string answer = Call(e.name, Platform::Expand(e, callers[t]));
          if (!WellFormed(e.kind, answer) || !Platform::Sound(e, answer, callers[t]))
            problems[t] += std::string(e.name) + ": " + answer.substr(0, 300) + "\n";
        }
      }
      --running;
    });
  }
  start.arrive_and_wait();
  while (running > 0) mixed += names.count(ReadFile(folder + "/KelvraFontName.txt")) == 1 ? 0 : 1;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(problems, std::vector<std::string>(kThreads));
  EXPECT_EQ(mixed, 0);
  EXPECT_TRUE(std::filesystem::is_empty(platform.world.SessionFolder()));
}

}  // namespace
}  // namespace vrk::test
