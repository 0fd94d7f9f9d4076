// SPDX-License-Identifier: MIT
// The font exports on real fontconfig, each test in a private world.
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "platform/linux/LinkRegistry.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class Fontconfig : public ::testing::Test {
 protected:
  using Paths = std::vector<std::string>;
  static std::string Font(const std::string& name) { return World::TestFont(name); }
  static std::string Reg(const Paths& p) { return Take(RegisterFont(ListOf(p).c_str())); }
  static std::string Unreg(const Paths& p) { return Take(UnRegisterFont(ListOf(p).c_str())); }
  static struct stat Lstat(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st), st;
  }
  // The exit code of `body` run in a child process; -1 when it did not exit.
  static int InChild(const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }
  // In a child: its mounts from here on are its own. False where that is not allowed.
  static bool OwnMounts() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  // Every lookup finds the font the world starts with.
  bool LooksUp() const {
    return Take(FindFont("VrkTwin-Regular", nullptr)) ==
               "Vrk Twin One|-|" + w.Path("system/VrkTwin-Regular.ttf") &&
           !TakeJson(GetAvailableFonts()).empty() &&
           FontIsRegistered(nullptr, "VrkTwin-Regular", nullptr);
  }
  World w;
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf");
  const std::string han = Font("han/VrkHan-Regular.ttf");
};

TEST_F(Fontconfig, RegisterLinksFontsIntoAPrivateAnnouncedFolderThatLookupsRead) {
  // Each name once, the best copy: activated, else TrueType or CFF before a bitmap font.
  const auto inventory = [] {
    std::map<std::string, nlohmann::json> listed;
    for (const auto& record : TakeJson(GetAvailableFonts()))
      EXPECT_TRUE(listed.emplace(record["postscriptName"].get<std::string>(), record).second);
    return listed;
  };
  for (const char* font : {"VrkTwin-Regular.bdf", "VrkCff-Regular.bdf", "VrkCff-Regular.otf"})
    w.CopyFont("rank/"s + font, "data/fonts/"s + font);
  auto listed = inventory();
  EXPECT_EQ(listed["VrkTwin-Regular"]["path"], w.Path("system/VrkTwin-Regular.ttf"));
  EXPECT_EQ(listed["VrkCff-Regular"]["path"], w.Path("data/fonts/VrkCff-Regular.otf"));
  EXPECT_EQ(Reg({}), "");
  EXPECT_FALSE(fs::exists(w.SessionFolder()) || fs::exists(w.ConfFile()));
  const Paths list = {alpha, w.Path("missing.ttf"), Font("coll/VrkTrio.ttc"), w.Path("fonts.conf"),
                      "", han + std::string("\0.ttf", 5),
                      // Its link keeps the extension and so would have too long a name.
                      w.CopyFont("alpha/VrkAlpha-Bold.ttf", "x." + std::string(250, 'e')),
                      Font("many/VrkMany256.ttc"), Font("many/VrkMany257.ttc")};
  EXPECT_EQ(Reg(list), "1|-|0|-|1|-|0|-|0|-|0|-|0|-|1|-|0");
  EXPECT_EQ(fs::symlink_status(w.SessionFolder()).permissions(), fs::perms(01700));
  EXPECT_EQ(platform::PathHash("/tmp/维克 & <x>.ttc"), "40c705070376f8db4c4d1f931fb2b96a");
  // The conf.d file is rewritten only when it changes: other clients keep their caches.
  // A link of the same name to another file is replaced.
  const ino_t conf = Lstat(w.ConfFile()).st_ino;
  const std::string link = w.SessionFolder() + "/" + platform::LinkRegistry::NameFor(alpha);
  fs::remove(link);
  fs::create_symlink(han, link);
  EXPECT_EQ(Reg({alpha, alpha}), "1|-|1");
  EXPECT_EQ(Lstat(w.ConfFile()).st_ino, conf);
  EXPECT_EQ(fs::read_symlink(link), alpha);

  // A deleted file's link goes, so that a font saved there later is not registered.
  for (const char* gone : {"user/font.ttf", "user"}) {
    const std::string file = w.CopyFont("alpha/VrkAlpha-Bold.ttf", "user/font.ttf");
    ASSERT_EQ(Reg({file}), "1");
    fs::remove_all(w.Path(gone));
    EXPECT_EQ(Unreg({file}), "0") << gone;
    w.CopyFont("han/VrkHan-Regular.ttf", "user/font.ttf");
    EXPECT_FALSE(FontIsRegistered(file.c_str(), nullptr, nullptr)) << gone;
  }
  // A link that cannot go, in a folder made read-only, is no success.
  const int readOnly = InChild([&] {
    const std::string folder = w.SessionFolder();
    const char* dir = folder.c_str();
    if (!OwnMounts() || ::mount(dir, dir, "none", MS_BIND, nullptr) != 0 ||
        ::mount("none", dir, "none", MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
      return 3;
    return Unreg({alpha}) == "0" && FontIsRegistered(alpha.c_str(), nullptr, nullptr) ? 0 : 1;
  });
  EXPECT_TRUE(readOnly == 0 || readOnly == 3) << readOnly;  // 3: no mount namespace here

  ASSERT_EQ(Reg({Font("alpha/VrkAlpha-Bold.ttf"), han, Font("dup2/VrkTwin-Regular.ttf")}),
            "1|-|1|-|1");
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"VrkAlpha-Bold", nullptr, "Vrk Alpha|-|" + Font("alpha/VrkAlpha-Bold.ttf")},
      {nullptr, "Vrk Alpha", "Vrk Alpha|-|" + alpha},
      {nullptr, "维克黑体", "Vrk Han|-|" + han},
      {"VrkAlpha-Bold", "Vrk Han", "(null)|-|(null)"},
      {"VrkAlpha-Bol", nullptr, "(null)|-|(null)"},  // fontconfig alone answers Bold
  };
  for (const auto& [ps, family, answer] : cases)
    EXPECT_EQ(Take(FindFont(ps, family)), answer) << (ps ? ps : "-") << (family ? family : "-");
  EXPECT_EQ(Take(FindFont(nullptr, nullptr)).find("(null)"), std::string::npos);
  listed = inventory();
  EXPECT_EQ(listed["VrkTwin-Regular"]["path"], Font("dup2/VrkTwin-Regular.ttf"));
  EXPECT_EQ(listed["VrkHan-Regular"]["family"], "维克黑体");
  EXPECT_EQ(listed["VrkTrio-Bold"]["path"], list[2]);
}

// Even one started before the user had a conf.d or fonts folder, at its next rescan.
TEST_F(Fontconfig, RegistrationsReachRunningPrograms) {
  w.UseRuntimeDir("run & <session>");  // the name must reach fontconfig intact
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  // It follows fontconfig's own refresh and nothing more, and tells each change it sees.
  const pid_t program = ::fork();
  if (program == 0) {
    FcPattern* pattern = FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, "Vrk Han", nullptr);
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    for (int last = -1, polls = 0; polls < 600; ++polls, ::usleep(100000)) {
      FcInitBringUptoDate();
      FcConfigSetRescanInterval(nullptr, 1);  // a reload brings back the configured one
      FcFontSet* fonts = FcFontList(nullptr, pattern, objects);
      const int now = fonts != nullptr && fonts->nfont > 0;
      if (fonts != nullptr) FcFontSetDestroy(fonts);
      if (std::exchange(last, now) != now) ::dprintf(out[1], now ? "present\n" : "absent\n");
    }
    ::_exit(0);
  }
  ::close(out[1]);
  FILE* seen = ::fdopen(out[0], "r");
  char line[16];
  auto next = [&] { return std::string(std::fgets(line, sizeof line, seen) ? line : ""); };
  ASSERT_EQ(next(), "absent\n");
  fs::create_directories(w.Path("data/fonts"));  // with a link left by an earlier session
  fs::create_directory_symlink(w.root(), w.Path("data/fonts/vrkfont-session"));
  EXPECT_EQ(Reg({han}), "1");
  EXPECT_EQ(next(), "present\n");
  // Also reached through a link, which is not listed.
  EXPECT_EQ(fs::read_symlink(w.Path("data/fonts/vrkfont-session")), w.SessionFolder());
  EXPECT_EQ(RunCommand("fc-list --format '%{file}\\n' ':family=Vrk Han'"),
            w.SessionFolder() + "/" + platform::LinkRegistry::NameFor(han) + "\n");
  // A real change settles the folder time on a whole second, or fontconfig could miss it.
  EXPECT_EQ(Lstat(w.SessionFolder()).st_mtim.tv_nsec, 0);
  const timespec times[2] = {{0, UTIME_OMIT}, {1, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, w.SessionFolder().c_str(), times, 0), 0);
  EXPECT_EQ(Reg({han}), "1");
  EXPECT_NE(Lstat(w.SessionFolder()).st_mtim.tv_nsec, 0);
  EXPECT_EQ(Unreg({han}), "1");
  EXPECT_EQ(Lstat(w.SessionFolder()).st_mtim.tv_nsec, 0);
  EXPECT_EQ(next(), "absent\n");
  ::kill(program, SIGKILL);
  ::fclose(seen);
}

// Used only where fontconfig reads it; without a runtime folder, under the boot's id in the cache.
TEST_F(Fontconfig, SessionFolderIsTheUsersOwn) {
  const std::string cache = w.Path("cache/vrkfont-fonts-");
  const std::string folder = cache + ReadFile("/proc/sys/kernel/random/boot_id").substr(0, 36);
  const std::string earlier = cache + "00000000-0000-0000-0000-000000000000";
  fs::create_directory(earlier);
  fs::create_symlink(han, earlier + "/0123.ttf");
  ASSERT_EQ(::chdir(w.root().c_str()), 0);
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { w.UseRuntimeDir("run\x01"); }, "0"},
      {[&] { w.UseRuntimeDir("run\xff"); }, "0"},
      {[&] { w.UseRuntimeDir("run"), ::setenv("XDG_CONFIG_HOME", "config", 1); }, "0"},
      {[&] { ::setenv("XDG_CONFIG_HOME", w.Path("config").c_str(), 1); }, "1"},
      {[&] { ::setenv("XDG_DATA_HOME", w.Path("da*ta").c_str(), 1); }, "1"},  // no glob: no link
      {[&] { fs::permissions(w.Path("run"), fs::perms::group_read, fs::perm_options::add); }, "1"},
      {[&] { fs::remove_all(folder), fs::create_directory_symlink(w.root(), folder); }, "0"},
  };
  for (const auto& [change, flag] : cases) {
    change();
    EXPECT_EQ(Reg({alpha}), flag);
    EXPECT_EQ(RunCommand("fc-list -f '%{file}' :postscriptname=VrkAlpha-Regular").empty(),
              *flag == '0');
    EXPECT_EQ(RunCommand("fc-list : family 2>&1 | grep -ci error"), "0\n");
  }
  EXPECT_FALSE(fs::exists(w.ConfFile()));  // no longer naming the planted folder
  EXPECT_FALSE(fs::exists(earlier) || fs::exists(w.Path("da*ta/fonts")));
}

// A conf.d file or link left by an earlier fallback under /tmp goes before any lookup.
TEST_F(Fontconfig, AnnouncedFolderOthersCouldMakeIsWithdrawn) {
  const std::string planted = w.Path("tmp/vrkfont-fonts-0");
  const std::string link = w.Path("data/fonts/vrkfont-session");
  for (const char* dir : {"config/fontconfig/conf.d", "data/fonts", "tmp"})
    fs::create_directories(w.Path(dir));
  fs::permissions(w.Path("tmp"), fs::perms::all | fs::perms::sticky_bit);
  WriteFile(w.ConfFile(), "<fontconfig><dir>" + planted + "</dir></fontconfig>");
  fs::create_directory_symlink(planted, link);
  EXPECT_FALSE(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr));
  EXPECT_FALSE(fs::exists(w.ConfFile()) || fs::is_symlink(fs::symlink_status(link)));
}

// Every export's answer on a face of the family.
std::string Ask(const char* postscriptName, const std::string& family) {
  std::string answer = std::to_string(FontIsRegistered(nullptr, postscriptName, nullptr)) +
                       std::to_string(FontIsRegistered(nullptr, "NoSuchFont", family.c_str())) +
                       "|" + Take(FindFont(postscriptName, nullptr)) + "|";
  for (const auto& record : TakeJson(GetAvailableFonts()))
    if (record["postscriptName"] == postscriptName) answer += record["path"].get<std::string>();
  return answer;
}

// The exports answer from what they learned before, yet every change shows in the next answer.
TEST_F(Fontconfig, EveryChangeShowsInTheNextAnswerOfEveryExport) {
  const std::string loose = w.CopyFont("han/VrkHan-Regular.ttf", "l/h.ttf"),
                    other = w.CopyFont("han/VrkHan-Regular.ttf", "a/h.ttf");
  const std::string added = w.Path("system/h.ttf"), dirs = "<dir>" + w.Path("a") + "</dir>";
  const std::string conf = w.Path("config/fontconfig/conf.d/60-test.conf");
  const char *a = "VrkAlpha-Regular", *h = "VrkHan-Regular", *b = "VrkAlpha-Bold";
  int touches = 0;
  // The change, the face then asked for, and its file ("" for none).
  const std::tuple<const char*, std::function<void()>, const char*, std::string> steps[] = {
      {"registered here", [&] { Reg({alpha}); }, a, alpha},
      {"unregistered here", [&] { Unreg({alpha}); }, a, ""},
      {"session ended", [&] { fs::remove_all(w.SessionFolder()); }, h, ""},
      {"registered elsewhere", [&] { RunCommand(VRK_TOOL " register " + loose); }, h, loose},
      {"unregistered elsewhere", [&] { RunCommand(VRK_TOOL " unregister " + loose); }, h, ""},
      {"font folder gained a font", [&] { fs::copy_file(loose, added); }, h, added},
      {"font folder lost it", [&] { fs::remove(added); }, h, ""},
      {"conf.d added", [&] { WriteFile(conf, "<fontconfig>" + dirs + "</fontconfig>"); }, h, other},
      {"conf.d removed", [&] { fs::remove(conf); }, h, ""},
      {"registered again", [&] { Reg({loose}); }, h, loose},
      {"replaced", [&] { fs::rename(w.CopyFont("alpha/VrkAlpha-Bold.ttf", "b"), loose); }, h, ""},
      {"the replacing font", [] {}, b, loose},
      {"replaced as a font folder changed",
       [&] {
         fs::rename(w.CopyFont("han/VrkHan-Regular.ttf", "c"), loose);
         WriteFile(w.Path("system/" + std::to_string(touches++)), "");
       },
       h, loose},
      {"registered file deleted", [&] { fs::remove(loose); }, b, ""},
  };
  fs::create_directories(fs::path(conf).parent_path());
  // A process that keeps asking watches for changes differently; 0: each step in a new process.
  for (int calls : {0, 1, 4}) {
    for (const auto& [what, change, ps, file] : steps) {
      const std::string family = ps[3] == 'H' ? "Vrk Han" : "Vrk Alpha";
      const std::string want =
          file.empty() ? "00|(null)|-|(null)|" : "11|" + family + "|-|" + file + "|" + file;
      const auto step = [&] {
        for (int i = 0; i < std::max(calls, 1); ++i) Ask(ps, family);
        change();
        return Ask(ps, family);
      };
      if (calls > 0) {
        EXPECT_EQ(step(), want) << what << ", " << calls;
      } else {
        EXPECT_EQ(InChild([&] { return step() == want ? 0 : 1; }), 0) << what << ", new process";
      }
    }
    w.CopyFont("han/VrkHan-Regular.ttf", "l/h.ttf");
    Unreg({loose});
  }
}

// Nothing made once may be left half made in a child forked during the first font call:
// fresh processes (this test run again), each forking a little later.
TEST_F(Fontconfig, ProcessesForkedDuringTheirFirstFontCall) {
#if defined(__SANITIZE_ADDRESS__)  // its allocator (GCC 12) can be left locked in such a child
  GTEST_SKIP() << "the sanitizer's allocator is not safe across fork()";
#endif
  using Clock = std::chrono::steady_clock;
  if (const char* delay = std::getenv("VRK_FORK_DELAY")) {
    std::thread first([this] { LooksUp(); });
    const auto fork = Clock::now() + std::chrono::microseconds(std::atoi(delay));
    while (Clock::now() < fork) continue;  // a sleep is far coarser than the window
    EXPECT_EQ(InChild([&] { return ::alarm(10), LooksUp() ? 0 : 1; }), 0);
    return first.join();
  }
  const std::string again = " '" + fs::read_symlink("/proc/self/exe").string() +
                            "' --gtest_filter=Fontconfig.ProcessesForked* >/dev/null 2>&1";
  int failed = 0;
  for (int delay = 0; delay < 400; delay += 2)
    failed += std::system(("VRK_FORK_DELAY=" + std::to_string(delay) + again).c_str()) != 0;
  EXPECT_EQ(failed, 0);
}

// They are made with their own modes under any umask; lookups need none of them.
TEST_F(Fontconfig, UserFoldersComeFromHomeOrThePasswordEntry) {
  ::setenv("HOME", w.Path("fresh").c_str(), 1);
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) ::unsetenv(name);
  const mode_t old = ::umask(0777);
  EXPECT_EQ(Reg({alpha}), "1");
  ::umask(old);
  for (const char* made : {"fresh", "fresh/.config/fontconfig/conf.d"})
    EXPECT_EQ(fs::symlink_status(w.Path(made)).permissions(), fs::perms::owner_all) << made;
  ::unsetenv("HOME");
  fs::permissions(w.root(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
  // Lookups in a child, by a user without an entry when the test can become one.
  EXPECT_EQ(InChild([&] { return (::geteuid() != 0 || ::setuid(54321) == 0) && LooksUp(); }), 1);
  fs::create_directory(w.Path("pwhome"));  // stands in for the real home in a private mount
  int code = InChild([&] {
    const passwd* pw = ::getpwuid(::getuid());
    if (pw == nullptr || ::chdir(w.root().c_str()) != 0 || !OwnMounts() ||
        ::mount(w.Path("pwhome").c_str(), pw->pw_dir, "none", MS_BIND, nullptr) != 0)
      return 3;
    return ::setenv("HOME", "relative", 1), Reg({alpha}), 0;  // counts as none
  });
  if (code == 3) GTEST_SKIP() << "no mount namespace to stand in for the home folder";
  EXPECT_TRUE(fs::exists(w.Path("pwhome/.config/fontconfig/conf.d/50-vrkfont-session-fonts.conf")));
}

}  // namespace
}  // namespace vrk::test
