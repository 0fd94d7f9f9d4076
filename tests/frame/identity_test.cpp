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

TEST(Identity, SetAnswersOneConstantAndGetAnswersFreshCopies) {
  char* first = SetAppName("MuXan");
  EXPECT_STREQ(first, "1");
  EXPECT_EQ(SetAppName("other"), first);

  SetAppName("穆仙");
  char* held = GetAppName();
  char* again = GetAppName();
  EXPECT_NE(held, again);
  SetAppName("later");
  EXPECT_STREQ(held, "穆仙");  // the caller's copy outlives the next SetAppName
  EXPECT_STREQ(again, "穆仙");
  std::free(held);
  std::free(again);
  EXPECT_EQ(TakeName(), "later");
}

TEST(Identity, NullAndInvalidUtf8MakeItAbsent) {
  struct Case {
    const char* given;
    std::string answered;
    bool muxan;
  } cases[] = {
      {"MuXan", "MuXan", true}, {"muxan", "muxan", false}, {"", "", false},
      {nullptr, "", false},     {"\xFF\xFE", "", false},   {"MuXan ", "MuXan ", false},
  };
  for (const auto& c : cases) {
    SetAppName(c.given);
    EXPECT_EQ(TakeName(), c.answered);
    EXPECT_EQ(vrk::GlobalHelper::ChooseByIdentity<const char*>("Muxan", "Kelvra"),
              std::string(c.muxan ? "Muxan" : "Kelvra"));
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
