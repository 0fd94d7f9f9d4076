// SPDX-License-Identifier: MIT
// Bad inputs, faults and the user's data: real fontconfig, file system and
// Lua runner throughout.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "Exports.h"
#include "platform/linux/FileIo.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using platform::ReadRegularFile;
using platform::WriteFileWhole;

// Every item under the folder, with what a change would alter.
std::string FilesUnder(const std::string& folder) {
  return RunCommand("cd '" + folder + "' && ls -lAR --full-time && find -type f -exec md5sum {} +");
}

TEST(BadInputs, EveryExportAnswersItsKindAndLeavesTheUsersFiles) {
  Platform platform;
  const World& w = platform.world;
  const Platform::Caller caller = platform.CallerNamed("user", "VrkAlpha-Regular", "Photoshop");
  auto font = [&w](const char* name) { return w.CopyFont("alpha/VrkAlpha-Bold.ttf", name); };
  const std::string conf = w.ConfFile(), user = w.Path("user");
  fs::create_directories(w.Path("config/fontconfig/conf.d"));
  // The library's conf.d file planted as something fontconfig would block on:
  // the first lookup removes it unread.
  auto planted = [&](bool fifo) {
    fs::remove(conf);
    fifo ? void(::mkfifo(conf.c_str(), 0600)) : fs::create_symlink("/dev/zero", conf);
    EXPECT_TRUE(WellFormed(kFontList, Take(GetAvailableFonts())));
    EXPECT_FALSE(fs::exists(fs::symlink_status(conf)));
    return conf;
  };
  const std::pair<const char*, std::function<std::string()>> inputs[] = {
      {"null", nullptr},
      {"empty", [] { return ""; }},
      {"invalid UTF-8", [] { return "ab\xFF\xFE"; }},
      {"control characters", [] { return "a\x01\x1B[2J\n\t\x7F-b"; }},
      {"10 MB text", [] { return std::string(10 << 20, 'a'); }},
      {"deep JSON", [] { return std::string(100000, '[') + std::string(100000, ']'); }},
      {"malformed JSON", [] { return "[\"/a.ttf\", {"; }},
      {"path with ..", [&] { return font("user/b.ttf"), w.Path("run/../user/../user/b.ttf"); }},
      {"link loop", [&] { return fs::create_symlink("loop", user + "/loop"), user + "/loop"; }},
      {"truncated font", [&] { return fs::resize_file(font("user/c.ttf"), 500), user + "/c.ttf"; }},
      {"folder", [&] { return user; }},
      {"FIFO", [&] { return ::mkfifo((user + "/f.ttf").c_str(), 0600), user + "/f.ttf"; }},
      {"device", [&] { return fs::create_symlink("/dev/zero", user + "/z.ttf"), user + "/z.ttf"; }},
      {"conf.d file is a FIFO", [&] { return planted(true); }},
      {"conf.d file is a device", [&] { return planted(false); }},
  };
  for (const auto& [name, make] : inputs) {
    SCOPED_TRACE(name);
    const std::optional<std::string> value = make ? std::optional(make()) : std::nullopt;
    const char* v = value ? value->c_str() : nullptr;
    const auto before = FilesUnder(user);
    for (const char* front : {"Adobe Photoshop 2024", "Sketch", "XD"}) {
      platform.windows.front = Windows({front});
      for (const Export& e : kExports) {
        // Each argument in turn, then all of them.
        for (size_t i = 0; i <= e.args.size(); ++i) {
          Args args = Platform::Expand(e, caller);
          for (size_t j = 0; j < args.size(); ++j)
            args[j] = i == j || i == args.size() ? v : args[j];
          const std::string answer = Call(e.name, args);
          EXPECT_TRUE(IsValidUtf8(answer) && WellFormed(e.kind, answer))
              << front << " " << e.name << " argument " << i << ": " << answer.substr(0, 200);
        }
      }
      fs::remove_all(w.Path("data/com.bohemiancoding.sketch3/Plugins/KelvraSetFont.sketchplugin"));
    }
    const std::string list = !v ? "[null]" : IsValidUtf8(v) ? ListOf({v}) : "[\"" + *value + "\"]";
    for (auto* call : {RegisterFont, UnRegisterFont}) {
      const std::string flags = Take(call(list.c_str()));
      EXPECT_TRUE(flags.empty() || FlagCount(flags) == 1) << flags;
    }
    EXPECT_EQ(FilesUnder(user), before);
    EXPECT_TRUE(!fs::exists(conf) || fs::is_regular_file(fs::symlink_status(conf)));
  }
}

TEST(FileIo, ReadsBoundedRegularFilesAndWritesWholeOrNothing) {
  TempDir dir;
  const std::string d = dir.path(), file = d + "/file";
  WriteFile(file, "abcd");
  ASSERT_EQ(::mkfifo((d + "/fifo").c_str(), 0600), 0);  // opening it would wait for a writer
  const std::tuple<std::string, size_t, std::optional<std::string>> reads[] = {
      {file, 4, "abcd"},
      {file, 3, std::nullopt},
      {d + "/fifo", 64, std::nullopt},
      {d + "/missing", 64, std::nullopt},
      {"", 64, std::nullopt},
      {file + '\0' + "x", 64, std::nullopt},
      {"/proc/self/status", 16, std::nullopt},
  };
  for (const auto& [path, limit, read] : reads)
    EXPECT_EQ(ReadRegularFile(path, limit), read) << path;
  EXPECT_TRUE(ReadRegularFile("/proc/self/status", 1 << 20).value_or("").starts_with("Name:"));

  ASSERT_TRUE(WriteFileWhole(file, "new", 0600));
  EXPECT_EQ(ReadRegularFile(file, 3), "new");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(WithFileSizeLimit(2, [&] { return WriteFileWhole(file, "longer than the limit"); }));
  for (const std::string& path : {d + "/no/file", d + "/", d, file + '\0' + "x"})
    EXPECT_FALSE(WriteFileWhole(path, "x")) << path;
  EXPECT_EQ(ReadFile(file), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(d), fs::directory_iterator()), 2)
      << "a temporary file stayed behind";
}

TEST(FileIo, WriteAllGoesOnAfterAnInterruption) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};  // without SA_RESTART: a blocked write fails with EINTR
  ::sigaction(SIGUSR1, &quiet, nullptr);
  const std::string bytes(1 << 20, 'x');
  std::string got;
  std::thread reader([&, writer = ::pthread_self()] {
    for (int i = 0; i < 20; ++i)
      ::pthread_kill(writer, SIGUSR1), std::this_thread::sleep_for(std::chrono::milliseconds(5));
    char buf[65536];
    for (ssize_t n; got.size() < bytes.size() && (n = ::read(pipe[0], buf, sizeof buf)) > 0;)
      got.append(buf, n);
  });
  EXPECT_TRUE(platform::WriteAll(pipe[1], bytes));
  reader.join();
  EXPECT_EQ(got, bytes);
  ::close(pipe[0]);
  ::close(pipe[1]);
}

TEST(Faults, RegistrationKilledHalfwayLeavesOnlyLinksToAskedFiles) {
  World world;
  std::vector<std::string> paths = {world.CopyFont("alpha/VrkAlpha-Regular.ttf", "user/0.ttf")};
  for (int i = 1; i < 1000; ++i) {
    paths.push_back(world.Path("user/" + std::to_string(i) + ".ttf"));
    fs::create_hard_link(paths[0], paths.back());
  }
  const std::string list = ListOf(paths);
  const std::set<std::string> asked(paths.begin(), paths.end());
  size_t links = 0;
  // The links are made in one burst after every file was read; a loaded
  // machine may wake this process only after the burst, so try again then.
  for (int attempt = 0; attempt < 5 && (links == 0 || links == paths.size()); ++attempt) {
    Take(UnRegisterFont(list.c_str()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      (void)RegisterFont(list.c_str());
      ::_exit(0);
    }
    std::error_code ec;
    while ((!fs::exists(world.SessionFolder()) || fs::is_empty(world.SessionFolder(), ec)) &&
           ::waitpid(child, nullptr, WNOHANG) == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    links = 0;
    for (const auto& entry : fs::directory_iterator(world.SessionFolder())) {
      ++links;
      EXPECT_EQ(asked.count(fs::read_symlink(entry.path())), 1u) << entry.path();
    }
  }
  EXPECT_GT(links, 0u);
  EXPECT_LT(links, paths.size());
  const std::string flags = Take(UnRegisterFont(list.c_str()));
  EXPECT_TRUE(FlagCount(flags) == 1000 && flags.find('0') == std::string::npos) << flags;
  EXPECT_TRUE(fs::is_empty(world.SessionFolder()));
  EXPECT_EQ(ReadFile(paths[0]), ReadFile(World::TestFont("alpha/VrkAlpha-Regular.ttf")));
}

// One given away, or in the cache folder, is the fontconfig tests' business.
TEST(Faults, PlantedSessionFolderIsRefusedAndNeverWrittenThrough) {
  World world;
  const std::string font = world.CopyFont("alpha/VrkAlpha-Regular.ttf", "user/a.ttf");
  const std::string list = ListOf({font}), twin = world.Path("system/VrkTwin-Regular.ttf");
  const std::string folder = world.SessionFolder(), planted = world.Path("planted");
  fs::create_directories(planted);
  for (bool link : {true, false}) {
    SCOPED_TRACE(link ? "link" : "file");
    fs::remove(folder);
    link ? fs::create_directory_symlink(planted, folder) : WriteFile(folder, "mine");
    EXPECT_EQ(Take(RegisterFont(list.c_str())), "0");
    EXPECT_FALSE(FontIsRegistered(font.c_str(), nullptr, nullptr));
    EXPECT_EQ(Take(UnRegisterFont(list.c_str())), "1");
    // Lookups go on without the refused folder.
    EXPECT_EQ(Take(FindFont("VrkTwin-Regular", nullptr)), "Vrk Twin One|-|" + twin);
    EXPECT_TRUE(fs::is_empty(planted));
    EXPECT_TRUE(link || ReadFile(folder) == "mine");
    EXPECT_FALSE(fs::exists(world.ConfFile()));
  }
}

}  // namespace
}  // namespace vrk::test
