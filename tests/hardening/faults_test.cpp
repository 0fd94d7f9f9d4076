// SPDX-License-Identifier: MIT
// Faults and the user's data: a registration killed half-way, concurrent
// plug-in hand-offs, unregistration of every scope, and a session folder
// that someone else planted. Real fontconfig and file system throughout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "Sandbox.h"
#include "helper/JsonHelper.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FakeEnv.h"
#include "vrkfont/VRKFont.h"

namespace vrk::hardening {
namespace {

namespace fs = std::filesystem;
using platform::FontScope;

std::optional<std::string> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string BootId() {
  return Read("/proc/sys/kernel/random/boot_id").value_or("").substr(0, 36);
}

// 0 while the folder does not exist yet.
size_t EntryCount(const std::string& folder) {
  std::error_code ec;
  return std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator());
}

TEST(Faults, RegistrationKilledHalfwayLeavesOnlyLinksToAskedFiles) {
  Sandbox box;
  std::vector<std::string> paths;
  for (int i = 0; i < 1000; ++i) {
    paths.push_back(
        box.CopyFont("alpha/VrkAlpha-Regular.ttf", "many/" + std::to_string(i) + ".ttf"));
  }
  const std::string list = ListOf(paths);
  const std::set<std::string> asked(paths.begin(), paths.end());
  size_t links = 0;
  // The links are made in one burst after every file was checked; a loaded
  // machine may wake this process only after the burst, so try again then.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) Take(UnRegisterFont(list.c_str()));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char* answer = RegisterFont(list.c_str());
      (void)answer;
      ::_exit(0);
    }
    // Killed as soon as the first links appear, long before the thousandth.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (EntryCount(box.SessionFolder()) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the registration ended before it was killed";

    links = 0;
    for (const auto& entry : fs::directory_iterator(box.SessionFolder())) {
      ++links;
      ASSERT_TRUE(entry.is_symlink()) << entry.path();
      EXPECT_EQ(asked.count(fs::read_symlink(entry.path()).string()), 1u) << entry.path();
    }
    if (links < paths.size()) break;
  }
  EXPECT_GT(links, 0u);
  EXPECT_LT(links, paths.size());

  const std::string flags = Take(UnRegisterFont(list.c_str()));
  EXPECT_EQ(FlagCount(flags), 1000);
  EXPECT_EQ(flags.find('0'), std::string::npos) << flags;
  EXPECT_TRUE(fs::is_empty(box.SessionFolder()));
  for (const auto& path : paths)
    ASSERT_EQ(Read(path), Read(Sandbox::TestFont("alpha/VrkAlpha-Regular.ttf")));
}

TEST(Faults, ConcurrentPlugInHandOffsNeverShowAMixedOrEmptyName) {
  Sandbox box;
  struct Case {
    const char* owner;                 // the frontmost window
    const char* software;              // as the envelope names it
    std::vector<std::string> folders;  // the name file goes in the last
  };
  const std::string data = box.Path("data");
  const Case cases[] = {
      {"Sketch",
       "Sketch",
       {data + "/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin/Contents/Sketch"}},
      {"XD",
       "AdobeXD",
       {data + "/Adobe/UXP/Plugins/External/KelvraSetFont",
        data + "/Adobe/UXP/PluginsStorage/SPRK/External/KelvraSetFont/PluginData"}},
  };
  // Lengths far apart, so any mixture of two names is told from both.
  const std::vector<std::string> names = {"A", std::string(10, 'B'), std::string(1000, 'C'),
                                          std::string(100000, 'D')};
  auto files = platform::NewLinuxFileSystem();
  auto lua = platform::NewLuaScriptRunner();
  SetAppName("Tester");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.software);
    for (const auto& folder : c.folders) fs::create_directories(folder);
    const std::string nameFile = c.folders.back() + "/KelvraFontName.txt";
    FixedWindows windows({c.owner}, {c.owner});
    test::ScopedFakeEnv env;
    env->UseFiles(files.get());
    env->UseScripts(lua.get());
    env->UseWindows(&windows);

    auto handOff = [&](const std::string& name) {
      auto answer = JsonHelper::jsonToObject(
          Take(SetSoftwareFont(name.c_str(), "", "", box.Script().c_str(), "")));
      return answer && answer->value("code", "") == "1" &&
             answer->value("software", "") == c.software;
    };
    ASSERT_TRUE(handOff(names[0]));
    std::atomic<int> writersLeft{static_cast<int>(names.size())};
    std::atomic<int> failedWrites{0}, badReads{0}, reads{0};
    std::vector<std::thread> threads;
    for (const auto& name : names) {
      threads.emplace_back([&, name] {
        for (int i = 0; i < 100; ++i) failedWrites += handOff(name) ? 0 : 1;
        --writersLeft;
      });
    }
    for (int r = 0; r < 2; ++r) {
      threads.emplace_back([&] {
        while (writersLeft > 0) {
          auto seen = Read(nameFile);
          ++reads;
          if (!seen || std::find(names.begin(), names.end(), *seen) == names.end()) ++badReads;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(badReads, 0) << "of " << reads << " reads";
    EXPECT_EQ(EntryCount(c.folders.back()), 1u) << "temporary files left";
  }
}

// What the user owns at a path: the bytes, and the file's own metadata.
struct Snapshot {
  std::optional<std::string> bytes;
  struct stat st {};
  bool operator==(const Snapshot& o) const {
    return bytes == o.bytes && st.st_ino == o.st.st_ino && st.st_mode == o.st.st_mode &&
           st.st_mtim.tv_sec == o.st.st_mtim.tv_sec && st.st_mtim.tv_nsec == o.st.st_mtim.tv_nsec;
  }
};
Snapshot SnapshotOf(const std::string& path) {
  Snapshot s{Read(path)};
  ::lstat(path.c_str(), &s.st);
  return s;
}

TEST(Faults, UnregisteringAnyScopeNeverChangesTheUsersFile) {
  Sandbox box;
  auto& fonts = platform::Env::Get().Fonts();
  const FontScope scopes[] = {platform::kFontScopeSession, platform::kFontScopeNone};
  enum Kind { kPlain, kReadOnly, kThroughUsersLink };
  for (FontScope scope : scopes) {
    for (Kind kind : {kPlain, kReadOnly, kThroughUsersLink}) {
      const std::string tag = std::to_string(scope) + "-" + std::to_string(kind);
      SCOPED_TRACE(tag);
      const std::string file = box.CopyFont("coll/VrkTrio.ttc", "user/" + tag + ".ttc");
      std::string given = file;
      if (kind == kReadOnly) fs::permissions(file, fs::perms::owner_read);
      if (kind == kThroughUsersLink) {
        given = box.Path("user/link-" + tag + ".ttc");
        fs::create_symlink(file, given);
      }
      if (scope != platform::kFontScopeNone) fonts.RegisterFiles({given}, scope);
      ASSERT_EQ(fonts.ScopeForFile(given), scope);
      const Snapshot fileBefore = SnapshotOf(file), givenBefore = SnapshotOf(given);

      EXPECT_EQ(Take(UnRegisterFont(ListOf({given}).c_str())), "1");
      EXPECT_EQ(fonts.ScopeForFile(given), platform::kFontScopeNone);
      EXPECT_TRUE(SnapshotOf(file) == fileBefore);
      EXPECT_TRUE(SnapshotOf(given) == givenBefore);
    }
  }
}

// tests/fonts covers the fallback folder planted as a link or as another
// user's folder for RegisterFont; here both locations, a plain file too, and
// every font export that reads the folder.
TEST(Faults, PlantedSessionFolderIsRefusedAndNeverWrittenThrough) {
  Sandbox box;
  enum Plant { kLinkToFolder, kFile, kOtherUsersFolder };
  const std::string font = box.CopyFont("alpha/VrkAlpha-Regular.ttf", "user/a.ttf");
  const std::string list = ListOf({font});
  const std::string twin = box.Path("system/VrkTwin-Regular.ttf");
  int n = 0;
  for (bool runtimeDir : {true, false}) {
    for (Plant plant : {kLinkToFolder, kFile, kOtherUsersFolder}) {
      if (plant == kOtherUsersFolder && ::geteuid() != 0) continue;  // needs chown
      SCOPED_TRACE(std::string(runtimeDir ? "runtime" : "fallback") + " plant " +
                   std::to_string(plant));
      const std::string base = box.Path("place" + std::to_string(++n));
      fs::create_directories(base);
      fs::permissions(base, fs::perms::owner_all);
      std::string folder;
      if (runtimeDir) {
        ::setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
        folder = base + "/vrkfont-fonts";
      } else {
        ::unsetenv("XDG_RUNTIME_DIR");
        ::setenv("XDG_CACHE_HOME", base.c_str(), 1);
        folder = base + "/vrkfont-fonts-" + BootId();
      }
      const std::string target = base + "/planted";
      fs::create_directory(target);
      switch (plant) {
        case kLinkToFolder:
          fs::create_directory_symlink(target, folder);
          break;
        case kFile:
          std::ofstream(folder) << "mine";
          break;
        case kOtherUsersFolder:
          fs::create_directory(folder);
          ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
          break;
      }

      // Nothing registered, and nothing of the library's in the folder.
      EXPECT_EQ(Take(RegisterFont(list.c_str())), "0");
      EXPECT_FALSE(FontIsRegistered(font.c_str(), nullptr, nullptr));
      EXPECT_EQ(Take(UnRegisterFont(list.c_str())), "1");
      // Lookups go on without the refused folder.
      EXPECT_EQ(Take(FindFont("VrkTwin-Regular", nullptr)), "Vrk Twin One|-|" + twin);
      auto inventory = JsonHelper::jsonToObject(Take(GetAvailableFonts()));
      EXPECT_TRUE(inventory && inventory->is_array() && !inventory->empty());

      EXPECT_TRUE(fs::is_empty(target));
      if (plant == kFile) {
        EXPECT_EQ(Read(folder), "mine");
      } else if (plant == kOtherUsersFolder) {
        EXPECT_TRUE(fs::is_empty(folder));
      }
      EXPECT_FALSE(fs::exists(box.Path("config/fontconfig/conf.d")));
    }
  }
}

// What this process has read so far, whatever from.
uint64_t BytesRead() {
  std::istringstream io(Read("/proc/self/io").value_or(""));
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A FIFO or a device where a font or the conf.d file should be: nothing
// waits for a writer or reads without end, and lookups on other threads go on.
TEST(Faults, NothingBlocksOnAFifoOrADevice) {
  Sandbox box;
  const std::string font = box.CopyFont("alpha/VrkAlpha-Regular.ttf", "user/a.ttf");
  const std::string fifo = box.Path("user/fifo.ttf");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", box.Path("user/zero.ttf"));
  const std::string conf = box.Path("config/fontconfig/conf.d/50-vrkfont-session-fonts.conf");
  fs::create_directories(box.Path("config/fontconfig/conf.d"));
  struct Case {
    const char* name;
    std::vector<std::string> list;
    const char* flags;
    std::function<void()> plantConf;
  };
  const Case cases[] = {
      {"font is a FIFO", {fifo, font}, "0|-|1", nullptr},
      {"font is a device", {box.Path("user/zero.ttf"), "/dev/null", font}, "0|-|0|-|1", nullptr},
      {"conf.d file is a FIFO", {font}, "1", [&] { ::mkfifo(conf.c_str(), 0600); }},
      {"conf.d file is a device", {font}, "1", [&] { fs::create_symlink("/dev/zero", conf); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Take(UnRegisterFont(ListOf({font}).c_str()));
    fs::remove(conf);
    if (c.plantConf) c.plantConf();
    const uint64_t readBefore = BytesRead();
    auto flags =
        std::async(std::launch::async, [&] { return Take(RegisterFont(ListOf(c.list).c_str())); });
    std::string found;
    if (flags.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
      // Free the blocked reader before failing.
      for (const std::string& f : {fifo, conf}) {
        int w = ::open(f.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) ::close(w);
      }
      ADD_FAILURE() << "the registration waited on a FIFO";
    } else {
      found = Take(FindFont("VrkAlpha-Regular", nullptr));
    }
    EXPECT_EQ(flags.get(), c.flags);
    EXPECT_LT(BytesRead() - readBefore, 16u << 20);
    EXPECT_EQ(found, "Vrk Alpha|-|" + font);
    struct stat st;
    ASSERT_EQ(::lstat(conf.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
}

}  // namespace
}  // namespace vrk::hardening
