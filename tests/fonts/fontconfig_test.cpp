// SPDX-License-Identifier: MIT
// The font exports on real fontconfig, each test in a private world.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "platform/linux/LinkRegistry.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using namespace test;

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
  World w;
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf");
  const std::string han = Font("han/VrkHan-Regular.ttf");
  const std::string twin = "Vrk Twin One|-|" + w.Path("system/VrkTwin-Regular.ttf");
};

TEST_F(Fontconfig, RegisterLinksFontsIntoAPrivateAnnouncedFolderThatLookupsRead) {
  EXPECT_EQ(Reg({}), "");
  EXPECT_FALSE(fs::exists(w.SessionFolder()) || fs::exists(w.ConfFile()));
  WriteFile(w.Path("junk.ttf"), "not a font\n");
  const Paths list = {alpha, w.Path("missing.ttf"), Font("coll/VrkTrio.ttc"), w.Path("junk.ttf"),
                      "", han + std::string("\0.ttf", 5),
                      // Its link keeps the extension and so would have too long a name.
                      w.CopyFont("alpha/VrkAlpha-Bold.ttf", "x." + std::string(250, 'e')),
                      Font("many/VrkMany256.ttc"), Font("many/VrkMany257.ttc")};
  EXPECT_EQ(Reg(list), "1|-|0|-|1|-|0|-|0|-|0|-|0|-|1|-|0");
  EXPECT_EQ(fs::symlink_status(w.SessionFolder()).permissions(), fs::perms(01700));
  std::set<std::string> targets;
  for (const auto& entry : fs::directory_iterator(w.SessionFolder())) {
    // A hash, so that no part of the caller's file name reaches the folder.
    EXPECT_EQ(entry.path().filename().string().find_first_not_of("0123456789abcdef"), 32u);
    targets.insert(fs::read_symlink(entry.path()));
  }
  EXPECT_EQ(targets, (std::set<std::string>{list[0], list[2], list[7]}));
  EXPECT_EQ(platform::PathHash("/tmp/维克 & <x>.ttc"), "40c705070376f8db4c4d1f931fb2b96a");
  // The conf.d file is rewritten only when it changes: other clients keep their caches.
  const ino_t conf = Lstat(w.ConfFile()).st_ino;
  EXPECT_EQ(Reg({alpha, alpha}), "1|-|1");
  EXPECT_EQ(Lstat(w.ConfFile()).st_ino, conf);

  // A deleted file's link goes, so that a font saved there later is not registered.
  for (const char* gone : {"user/font.ttf", "user"}) {
    const std::string file = w.CopyFont("alpha/VrkAlpha-Bold.ttf", "user/font.ttf");
    ASSERT_EQ(Reg({file}), "1");
    fs::remove_all(w.Path(gone));
    EXPECT_EQ(Unreg({file}), "0") << gone;
    w.CopyFont("han/VrkHan-Regular.ttf", "user/font.ttf");
    EXPECT_FALSE(FontIsRegistered(file.c_str(), nullptr, nullptr)) << gone;
  }

  const std::string bold = Font("alpha/VrkAlpha-Bold.ttf"),
                    twin2 = Font("dup2/VrkTwin-Regular.ttf");
  ASSERT_EQ(Reg({bold, han, twin2}), "1|-|1|-|1");
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"VrkAlpha-Bold", nullptr, "Vrk Alpha|-|" + bold},
      {nullptr, "Vrk Alpha", "Vrk Alpha|-|" + alpha},
      {nullptr, "维克黑体", "Vrk Han|-|" + han},
      {"VrkAlpha-Bold", "Vrk Han", "(null)|-|(null)"},
      {"VrkAlpha-Bol", nullptr, "(null)|-|(null)"},  // fontconfig alone answers Bold
  };
  for (const auto& [ps, family, answer] : cases) {
    EXPECT_EQ(Take(FindFont(ps, family)), answer) << (ps ? ps : "-") << (family ? family : "-");
  }
  EXPECT_EQ(Take(FindFont(nullptr, nullptr)).find("(null)"), std::string::npos);
  // Each name once, the activated copy first, the family in Chinese.
  std::map<std::string, nlohmann::json> listed;
  for (const auto& record : TakeJson(GetAvailableFonts())) {
    EXPECT_TRUE(listed.emplace(record["postscriptName"].get<std::string>(), record).second);
  }
  EXPECT_EQ(listed["VrkTwin-Regular"]["path"], twin2);
  EXPECT_EQ(listed["VrkHan-Regular"]["family"], "维克黑体");
  EXPECT_EQ(listed["VrkTrio-Bold"]["path"], list[2]);
}

// From the user's first registration on, with no conf.d or fonts folder yet,
// a program already running sees each change at its next rescan.
TEST_F(Fontconfig, RegistrationsReachRunningPrograms) {
  w.UseRuntimeDir("run & <session>");  // the name must reach fontconfig intact
  FILE* probe = ::popen(VRK_PROBE " 'Vrk Han'", "r");
  char line[16];
  auto next = [&] { return std::string(std::fgets(line, sizeof line, probe) ? line : ""); };
  ASSERT_EQ(next(), "absent\n");
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
  ::pclose(probe);
}

// The session folder is the user's own (under the boot's id in its cache folder
// without a runtime folder), and one fontconfig clients would not read is refused.
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
      {[&] { ::unsetenv("XDG_RUNTIME_DIR"); }, "1"},
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
  fs::remove(folder);
  fs::create_directory(folder);
  // Given away to someone else, as root can.
  EXPECT_EQ(::chown(folder.c_str(), 65534, -1) == 0 ? Reg({alpha}) : "0", "0");
  EXPECT_TRUE(fs::is_empty(folder));
}

// A conf.d file or fonts-folder link left naming a folder someone else could
// make, as an earlier fallback under /tmp did, goes before any lookup.
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

// Where each export finds a face, of the family "Vrk Han" or "Vrk Alpha".
std::string Ask(const char* postscriptName) {
  const char* family = postscriptName[3] == 'H' ? "Vrk Han" : "Vrk Alpha";
  std::string answer = std::to_string(FontIsRegistered(nullptr, postscriptName, nullptr)) +
                       std::to_string(FontIsRegistered(nullptr, "NoSuchFont", family)) + "|" +
                       Take(FindFont(postscriptName, nullptr)) + "|";
  for (const auto& record : TakeJson(GetAvailableFonts())) {
    if (record["postscriptName"] == postscriptName) answer += record["path"].get<std::string>();
  }
  return answer;
}

// The exports answer from what they learned before; every way the fonts can
// change must still show in the very next answer.
TEST_F(Fontconfig, EveryChangeShowsInTheNextAnswerOfEveryExport) {
  const std::string loose = w.CopyFont("han/VrkHan-Regular.ttf", "l/h.ttf");
  const std::string added = w.Path("system/h.ttf"),
                    other = w.CopyFont("han/VrkHan-Regular.ttf", "a/h.ttf");
  const std::string conf = w.Path("config/fontconfig/conf.d/60-test.conf");
  const char *a = "VrkAlpha-Regular", *h = "VrkHan-Regular", *b = "VrkAlpha-Bold";
  const std::string out = "00|(null)|-|(null)|";
  auto in = [](const char* ps, const std::string& path) {
    return std::string("11|") + (ps[3] == 'H' ? "Vrk Han" : "Vrk Alpha") + "|-|" + path + "|" +
           path;
  };
  const std::tuple<const char*, std::function<void()>, const char*, std::string> steps[] = {
      {"registered here", [&] { Reg({alpha}); }, a, in(a, alpha)},
      {"unregistered here", [&] { Unreg({alpha}); }, a, out},
      {"session ended", [&] { fs::remove_all(w.SessionFolder()); }, h, out},
      {"registered elsewhere", [&] { RunCommand(VRK_TOOL " register " + loose); }, h, in(h, loose)},
      {"unregistered elsewhere", [&] { RunCommand(VRK_TOOL " unregister " + loose); }, h, out},
      {"font folder gained a font", [&] { fs::copy_file(loose, added); }, h, in(h, added)},
      {"font folder lost it", [&] { fs::remove(added); }, h, out},
      {"conf.d file added",
       [&] { WriteFile(conf, "<fontconfig><dir>" + w.Path("a") + "</dir></fontconfig>"); }, h,
       in(h, other)},
      {"conf.d file removed", [&] { fs::remove(conf); }, h, out},
      {"registered again", [&] { Reg({loose}); }, h, in(h, loose)},
      {"replaced", [&] { fs::rename(w.CopyFont("alpha/VrkAlpha-Bold.ttf", "b"), loose); }, h, out},
      {"the replacing font", [] {}, b, in(b, loose)},
      {"registered file deleted", [&] { fs::remove(loose); }, b, out},
  };
  fs::create_directories(fs::path(conf).parent_path());
  for (int calls : {1, 4}) {  // a process that keeps asking watches for changes differently
    for (const auto& [what, change, ps, expected] : steps) {
      for (int i = 0; i < calls; ++i) Ask(ps);
      change();
      EXPECT_EQ(Ask(ps), expected) << what << ", " << calls;
    }
    w.CopyFont("han/VrkHan-Regular.ttf", "l/h.ttf");
    Unreg({loose});
  }
}

// Nothing the library makes once may be left half made in a child forked
// during the first font call: fresh processes, each forking a little later.
TEST_F(Fontconfig, ProcessesForkedDuringTheirFirstFontCall) {
#if defined(__SANITIZE_ADDRESS__)  // its allocator (GCC 12) can be left locked in such a child
  GTEST_SKIP() << "the sanitizer's allocator is not safe across fork()";
#endif
  int failed = 0;
  for (int delay = 0; delay < 400; delay += 2)
    failed += std::system((VRK_FORK_AT_START " " + std::to_string(delay)).c_str()) != 0;
  EXPECT_EQ(failed, 0);
}

// The user's folders come from HOME, else from the password entry, and are
// made with their own modes under any umask; lookups need none of them.
TEST_F(Fontconfig, UserFoldersComeFromHomeOrThePasswordEntry) {
  ::setenv("HOME", w.Path("fresh").c_str(), 1);
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) ::unsetenv(name);
  const mode_t old = ::umask(0777);
  EXPECT_EQ(Reg({alpha}), "1");
  ::umask(old);
  for (const char* made : {"fresh", "fresh/.config/fontconfig/conf.d"}) {
    EXPECT_EQ(fs::symlink_status(w.Path(made)).permissions(), fs::perms::owner_all) << made;
  }
  ::unsetenv("HOME");
  fs::permissions(w.root(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
  // Lookups in a child, by a user without an entry when the test can become one.
  EXPECT_EQ(InChild([&] {
              return (::geteuid() != 0 || ::setuid(54321) == 0) &&
                     Take(FindFont("VrkTwin-Regular", nullptr)) == twin;
            }),
            1);
  fs::create_directory(w.Path("pwhome"));  // stands in for the real home in a private mount
  int code = InChild([&] {
    const passwd* pw = ::getpwuid(::getuid());
    if (pw == nullptr || ::chdir(w.root().c_str()) != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(w.Path("pwhome").c_str(), pw->pw_dir, nullptr, MS_BIND, nullptr) != 0) {
      return 3;
    }
    return ::setenv("HOME", "relative", 1), Reg({alpha}), 0;  // counts as none
  });
  if (code == 3) GTEST_SKIP() << "no mount namespace to stand in for the home folder";
  EXPECT_TRUE(fs::exists(w.Path("pwhome/.config/fontconfig/conf.d/50-vrkfont-session-fonts.conf")));
}

}  // namespace
}  // namespace vrk
