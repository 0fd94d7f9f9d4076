// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "helper/GlobalHelper.h"
#include "vrkfont/VRKFont.h"

namespace {

std::string TakeName() {
  char* name = GetAppName();
  std::string copy = name;
  std::free(name);
  return copy;
}

TEST(Identity, SetAndGet) {
  char* one = SetAppName("穆仙");
  EXPECT_STREQ(one, "1");
  char* held = GetAppName();
  char* again = GetAppName();
  EXPECT_NE(held, again);
  EXPECT_EQ(SetAppName("later"), one);  // one constant, never to be freed
  EXPECT_STREQ(held, "穆仙");           // the caller's copy outlives the next SetAppName
  std::free(held);
  std::free(again);

  // Null and invalid UTF-8 make the name absent; only "MuXan" exactly picks Muxan.
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"MuXan", "MuXan", "Muxan"}, {"muxan", "muxan", "Kelvra"}, {"MuXan ", "MuXan ", "Kelvra"},
      {"", "", "Kelvra"},          {nullptr, "", "Kelvra"},      {"\xFF\xFE", "", "Kelvra"},
  };
  for (const auto& [given, answered, chosen] : cases) {
    SetAppName(given);
    EXPECT_EQ(TakeName(), answered);
    EXPECT_STREQ(vrk::GlobalHelper::ChooseByIdentity<const char*>("Muxan", "Kelvra"), chosen);
  }
}

TEST(Identity, ConcurrentSetAndGetNeverTearTheName) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::vector<std::thread> readers;
  const std::string longName(200, 'x');
  SetAppName("MuXan");
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        std::string name = TakeName();
        if (name != "MuXan" && name != longName) ++torn;
      }
    });
  }
  for (int i = 0; i < 20000; ++i) SetAppName(i % 2 ? "MuXan" : longName.c_str());
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
