// SPDX-License-Identifier: MIT
// The font exports on real fontconfig, each test in a private world.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "platform/linux/LinkRegistry.h"
#include "support/World.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Paths = std::vector<std::string>;

class Fontconfig : public ::testing::Test {
 protected:
  static std::string Font(const std::string& name) { return World::TestFont(name); }
  static std::string Reg(const Paths& paths) { return Take(RegisterFont(ListOf(paths).c_str())); }
  static std::string Unreg(const Paths& paths) {
    return Take(UnRegisterFont(ListOf(paths).c_str()));
  }
  static std::string Listed(const std::string& ps) {
    return RunCommand("fc-list --format '%{postscriptname}\\n' :postscriptname=" + ps);
  }
  static std::string Tool(const std::string& command, const std::string& file) {
    return RunCommand(std::string(VRK_TOOL) + " " + command + " '" + file + "'");
  }
  // The mode of a folder that is no link, else -1; and its time's nanoseconds.
  static int Mode(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? int(st.st_mode & 07777) : -1;
  }
  static long Nanos(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st), st.st_mtim.tv_nsec;
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
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf"),
                    han = Font("han/VrkHan-Regular.ttf");
  const std::string twin = "Vrk Twin One|-|" + w.Path("system/VrkTwin-Regular.ttf");
};

// The font as a collection whose header declares `faces` copies of its one
// face, padded as large as FreeType expects such a file to be.
std::string CollectionOf(const std::string& font, uint32_t faces) {
  std::string face = ReadFile(font), out = "ttcf";
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  auto at32 = [&](size_t at) {
    return uint32_t(uint8_t(face[at])) << 24 | uint8_t(face[at + 1]) << 16 |
           uint8_t(face[at + 2]) << 8 | uint8_t(face[at + 3]);
  };
  const uint32_t header = 12 + 4 * faces;
  out += be32(0x00010000) + be32(faces);
  for (uint32_t i = 0; i < faces; ++i) out += be32(header);
  for (size_t i = 0, tables = at32(4) >> 16; i < tables; ++i) {  // offsets from the file's start
    face.replace(20 + 16 * i, 4, be32(at32(20 + 16 * i) + header));
  }
  out += face;
  out.resize(std::max<size_t>(out.size(), 32 * size_t{faces}), '\0');
  return out;
}

TEST_F(Fontconfig, RegisterLinksEachFontIntoAPrivateAnnouncedFolder) {
  EXPECT_EQ(Reg({}), "");
  EXPECT_FALSE(fs::exists(w.SessionFolder()) || fs::exists(w.ConfFile()));
  WriteFile(w.Path("junk.ttf"), "not a font\n");
  WriteFile(w.Path("c256.ttc"), CollectionOf(alpha, 256));
  WriteFile(w.Path("c257.ttc"), CollectionOf(alpha, 257));  // more faces than any real one
  const Paths list = {alpha, w.Path("missing.ttf"), Font("coll/VrkTrio.ttc"), w.Path("junk.ttf"),
                      "", han + std::string("\0.ttf", 5),
                      // Its link keeps the extension and so would have too long a name.
                      w.CopyFont("alpha/VrkAlpha-Bold.ttf", "x." + std::string(250, 'e')),
                      w.Path("c256.ttc"), w.Path("c257.ttc")};
  EXPECT_EQ(Reg(list), "1|-|0|-|1|-|0|-|0|-|0|-|0|-|1|-|0");
  EXPECT_EQ(Mode(w.SessionFolder()), 01700);
  std::set<std::string> targets;
  for (const auto& entry : fs::directory_iterator(w.SessionFolder())) {
    // A hash, so that no part of the caller's file name reaches the folder.
    EXPECT_EQ(entry.path().filename().string().find_first_not_of("0123456789abcdef"), 32u);
    targets.insert(fs::read_symlink(entry.path()));
  }
  EXPECT_EQ(targets, (std::set<std::string>{list[0], list[2], list[7]}));
  // As earlier versions named their links.
  EXPECT_EQ(platform::PathHash("/tmp/维克 & <x>.ttc"), "40c705070376f8db4c4d1f931fb2b96a");

  // Rewritten only when it would change, so other clients keep their caches.
  EXPECT_NE(ReadFile(w.ConfFile()).find("<dir>" + w.SessionFolder() + "</dir>"), std::string::npos);
  struct stat before {
  }, after{};
  ::stat(w.ConfFile().c_str(), &before);
  EXPECT_EQ(Reg({alpha, alpha}), "1|-|1");
  ::stat(w.ConfFile().c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);

  // A deleted file's link goes, so that a font saved there later is not registered.
  for (const char* gone : {"user/font.ttf", "user"}) {
    const std::string file = w.CopyFont("alpha/VrkAlpha-Bold.ttf", "user/font.ttf");
    ASSERT_EQ(Reg({file}), "1");
    fs::remove_all(w.Path(gone));
    EXPECT_EQ(Unreg({file}), "0") << gone;
    w.CopyFont("han/VrkHan-Regular.ttf", "user/font.ttf");
    EXPECT_FALSE(FontIsRegistered(file.c_str(), nullptr, nullptr)) << gone;
    EXPECT_FALSE(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr)) << gone;
    fs::remove_all(w.Path("user"));
  }
}

TEST_F(Fontconfig, LookupsAnswerOnlyFontsCarryingTheNames) {
  const std::string bold = Font("alpha/VrkAlpha-Bold.ttf"), trio = Font("coll/VrkTrio.ttc");
  const std::string twin2 = Font("dup2/VrkTwin-Regular.ttf");
  EXPECT_EQ(Take(FindFont("VrkTwin-Regular", nullptr)), twin);
  ASSERT_EQ(Reg({alpha, bold, han, twin2, trio}), "1|-|1|-|1|-|1|-|1");
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"VrkAlpha-Bold", nullptr, "Vrk Alpha|-|" + bold},
      {nullptr, "Vrk Alpha", "Vrk Alpha|-|" + alpha},
      {"VrkAlpha-Bold", "Vrk Alpha", "Vrk Alpha|-|" + bold},
      {nullptr, "维克黑体", "Vrk Han|-|" + han},
      {"VrkAlpha-Bold", "Vrk Han", "(null)|-|(null)"},
      {"VrkAlpha-Bol", nullptr, "(null)|-|(null)"},  // fontconfig alone answers Bold
      {"vrkalpha-bold", nullptr, "(null)|-|(null)"},
      {nullptr, "No Such Family", "(null)|-|(null)"},
  };
  for (const auto& [ps, family, answer] : cases) {
    EXPECT_EQ(Take(FindFont(ps, family)), answer) << (ps ? ps : "-") << (family ? family : "-");
  }
  EXPECT_EQ(Take(FindFont(nullptr, nullptr)).find("(null)"), std::string::npos);
  EXPECT_TRUE(FontIsRegistered(nullptr, "Unknown", "Vrk Alpha"));
  EXPECT_TRUE(FontIsRegistered(nullptr, "VrkTrio-Bold", nullptr));

  // Each name once, the activated copy first, the family in Chinese.
  std::map<std::string, nlohmann::json> listed;
  for (const auto& record : TakeJson(GetAvailableFonts())) {
    EXPECT_TRUE(listed.emplace(record["postscriptName"].get<std::string>(), record).second)
        << record;
  }
  EXPECT_EQ(listed["VrkTwin-Regular"]["path"], twin2);
  EXPECT_EQ(listed["VrkTwin-Regular"]["family"], "Vrk Twin Two");
  EXPECT_EQ(listed["VrkHan-Regular"]["family"], "维克黑体");
  EXPECT_EQ(listed["VrkTrio-Light"]["path"], trio);
  EXPECT_EQ(listed["VrkTrio-Bold"]["style"], "Bold");
}

// A program that follows fontconfig's own refresh: "present" or "absent" for
// the family at its start and at each change; "" when nothing comes for 10 s.
struct Probe {
  explicit Probe(const char* family) {
    int out[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) == 0 && (pid = ::fork()) == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(out[1], 1);
      ::execl(VRK_PROBE, VRK_PROBE, family, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    fd = out[0];
  }
  ~Probe() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    ::close(fd);
  }
  std::string Next() {
    std::string line;
    char c;
    for (pollfd p{fd, POLLIN, 0}; ::poll(&p, 1, 10000) == 1 && ::read(fd, &c, 1) == 1 && c != '\n';)
      line += c;
    return line;
  }
  pid_t pid = -1;
  int fd = -1;
};

// From the user's first registration on, with no conf.d or fonts folder yet.
TEST_F(Fontconfig, RegistrationsReachOtherProcessesAndRunningPrograms) {
  w.UseRuntimeDir("run & <session>");  // the name must reach fontconfig intact
  Probe first("Vrk Han");
  ASSERT_EQ(first.Next(), "absent");
  EXPECT_EQ(Tool("register", han), "1\n");
  EXPECT_EQ(first.Next(), "present");
  EXPECT_EQ(Listed("VrkHan-Regular"), "VrkHan-Regular\n");
  EXPECT_EQ(Take(FindFont("VrkHan-Regular", nullptr)), "Vrk Han|-|" + han);
  EXPECT_TRUE(FontIsRegistered(han.c_str(), nullptr, nullptr));
  // Running programs reach the folder through a link, which is not listed.
  EXPECT_EQ(fs::read_symlink(w.Path("data/fonts/vrkfont-session")), w.SessionFolder());
  EXPECT_EQ(RunCommand("fc-list --format '%{file}\\n' ':family=Vrk Han'"),
            w.SessionFolder() + "/" + platform::LinkRegistry::NameFor(han) + "\n");
  EXPECT_EQ(Tool("unregister", han), "1\n");
  EXPECT_EQ(first.Next(), "absent");
  EXPECT_EQ(Listed("VrkHan-Regular"), "");
  EXPECT_EQ(Take(FindFont("VrkHan-Regular", nullptr)), "(null)|-|(null)");
  EXPECT_FALSE(FontIsRegistered(han.c_str(), nullptr, nullptr) || !fs::exists(han));

  // A real change settles the folder time on a whole second, or fontconfig
  // could miss it; registering an active file again changes nothing.
  Probe later("Vrk Han");
  ASSERT_EQ(later.Next(), "absent");
  EXPECT_EQ(Reg({han}), "1");
  EXPECT_EQ(Nanos(w.SessionFolder()), 0);
  EXPECT_EQ(first.Next() + later.Next(), "presentpresent");
  const timespec times[2] = {{0, UTIME_OMIT}, {1, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, w.SessionFolder().c_str(), times, 0), 0);
  EXPECT_EQ(Reg({han}), "1");
  EXPECT_NE(Nanos(w.SessionFolder()), 0);
  EXPECT_EQ(Unreg({han}), "1");
  EXPECT_EQ(Nanos(w.SessionFolder()), 0);
  EXPECT_EQ(first.Next() + later.Next(), "absentabsent");
}

// Without a usable runtime folder the session lives in the user's cache
// folder under the boot's id; never in a folder someone else could plant.
TEST_F(Fontconfig, SessionFolderIsTheUsersOwn) {
  const std::string boot = ReadFile("/proc/sys/kernel/random/boot_id");
  const std::string folder = w.Path("cache/vrkfont-fonts-" + boot.substr(0, 36));
  const std::string earlier = w.Path("cache/vrkfont-fonts-00000000-0000-0000-0000-000000000000");
  fs::create_directory(earlier);
  fs::create_symlink(han, earlier + "/0123.ttf");
  w.CopyFont("han/VrkHan-Regular.ttf", "elsewhere/keep.ttf");
  fs::create_directory_symlink(w.Path("elsewhere"), earlier.substr(0, earlier.size() - 1) + "1");
  fs::permissions(w.Path("run"), fs::perms::group_read, fs::perm_options::add);
  for (bool runtimeSet : {true, false}) {  // open to others, then none at all
    if (!runtimeSet) ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(Reg({alpha}), "1");
    EXPECT_EQ(Mode(folder), 01700);
    EXPECT_NE(ReadFile(w.ConfFile()).find("<dir>" + folder + "</dir>"), std::string::npos);
    EXPECT_EQ(Listed("VrkAlpha-Regular"), "VrkAlpha-Regular\n");
  }
  EXPECT_FALSE(fs::exists(earlier) || fs::exists(w.Path("run/vrkfont-fonts")));
  EXPECT_TRUE(fs::exists(w.Path("elsewhere/keep.ttf")));

  // Planted in its place: refused, and the configuration stops naming it.
  fs::remove_all(folder);
  fs::create_directory_symlink(w.Path("elsewhere"), folder);
  EXPECT_EQ(Reg({alpha}), "0");
  EXPECT_FALSE(fs::exists(w.ConfFile()));
  EXPECT_EQ(Listed("VrkAlpha-Regular"), "");
  if (::geteuid() == 0) {
    fs::remove(folder);
    fs::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Reg({alpha}), "0");
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

// A conf.d file or fonts-folder link left naming a folder others can make or
// own, as an earlier fallback under /tmp did, goes before any lookup.
TEST_F(Fontconfig, AnnouncedFolderOthersCouldPlantIsWithdrawn) {
  fs::create_directories(w.Path("config/fontconfig/conf.d"));
  fs::create_directories(w.Path("data/fonts"));
  fs::create_directories(w.Path("tmp"));
  fs::permissions(w.Path("tmp"), fs::perms::all | fs::perms::sticky_bit);
  const std::string link = w.Path("data/fonts/vrkfont-session");
  const std::tuple<std::string, int, bool> cases[] = {
      {"tmp/vrkfont-fonts-0", -1, false},  // missing
      {"tmp/theirs & co", 65534, false},
      {"own", int(::geteuid()), true},
  };
  for (const auto& [folder, owner, kept] : cases) {
    if (owner >= 0) w.CopyFont("han/VrkHan-Regular.ttf", folder + "/f.ttf");
    if (owner >= 0 && ::chown(w.Path(folder).c_str(), owner, -1) != 0) continue;  // not root
    std::string dir = w.Path(folder);
    if (auto amp = dir.find('&'); amp != std::string::npos) dir.replace(amp, 1, "&amp;");
    WriteFile(w.ConfFile(), "<fontconfig><dir>" + dir + "</dir></fontconfig>");
    fs::remove(link);
    fs::create_directory_symlink(w.Path(folder), link);
    EXPECT_EQ(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr), kept) << folder;
    EXPECT_EQ(Listed("VrkHan-Regular").empty(), !kept) << folder;
    EXPECT_EQ(fs::exists(w.ConfFile()), kept) << folder;
    EXPECT_EQ(fs::is_symlink(fs::symlink_status(link)), kept) << folder;
  }
  // A folder of the user's own of that name is never replaced.
  fs::remove(link);
  fs::create_directory(link);
  EXPECT_EQ(Reg({han}), "1");
  EXPECT_EQ(Mode(link) & 0700, 0700);
}

TEST_F(Fontconfig, RegistrationAnswersWhatFontconfigClientsWouldSee) {
  ASSERT_EQ(::chdir(w.root().c_str()), 0);
  const std::pair<std::function<void()>, bool> cases[] = {
      {[&] { w.UseRuntimeDir("run\x01"); }, false},  // names XML cannot carry
      {[&] { w.UseRuntimeDir("run\xff"); }, false},
      // fontconfig reads a relative folder, which the XDG rules ignore
      {[&] { w.UseRuntimeDir("run"), ::setenv("XDG_CONFIG_HOME", "config", 1); }, false},
      // A glob cannot name a link there: the session goes without it.
      {[&] {
         ::setenv("XDG_CONFIG_HOME", w.Path("config").c_str(), 1),
             ::setenv("XDG_DATA_HOME", w.Path("da*ta").c_str(), 1);
       },
       true},
  };
  for (const auto& [change, seen] : cases) {
    change();
    EXPECT_EQ(Reg({alpha}), seen ? "1" : "0");
    EXPECT_EQ(FontIsRegistered(nullptr, "VrkAlpha-Regular", nullptr), seen);
    EXPECT_EQ(RunCommand("fc-list : family 2>&1 | grep -ci error"), "0\n");
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(w.Path("da*ta/fonts/vrkfont-session"))));
  EXPECT_EQ(ReadFile(w.ConfFile()).find("rejectfont"), std::string::npos);
}

// Where each export finds a face: "<by name><by family>|<FindFont>|<listed>".
std::string Ask(const char* postscriptName, const char* family) {
  std::string answer = std::to_string(FontIsRegistered(nullptr, postscriptName, nullptr)) +
                       std::to_string(FontIsRegistered(nullptr, "NoSuchFont", family)) + "|";
  std::string found = Take(FindFont(postscriptName, nullptr));
  if (found != "(null)|-|(null)") answer += found.substr(found.find("|-|") + 3);
  answer += "|";
  for (const auto& record : TakeJson(GetAvailableFonts())) {
    if (record["postscriptName"] == postscriptName) answer += record["path"].get<std::string>();
  }
  return answer;
}

// The exports answer from what they learned before; every way the fonts can
// change must still show in the very next answer.
TEST_F(Fontconfig, EveryChangeShowsInTheNextAnswerOfEveryExport) {
  const std::string loose = w.CopyFont("han/VrkHan-Regular.ttf", "loose/VrkHan-Regular.ttf");
  const std::string added = w.Path("system/VrkHan-Regular.ttf");
  const std::string other = w.CopyFont("han/VrkHan-Regular.ttf", "added/VrkHan-Regular.ttf");
  const std::string conf = w.Path("config/fontconfig/conf.d/60-test.conf");
  const char *a = "VrkAlpha-Regular", *h = "VrkHan-Regular", *b = "VrkAlpha-Bold";
  auto in = [](const std::string& path) { return "11|" + path + "|" + path; };
  const std::tuple<const char*, std::function<void()>, const char*, std::string> steps[] = {
      {"registered here", [&] { Reg({alpha}); }, a, in(alpha)},
      {"unregistered here", [&] { Unreg({alpha}); }, a, "00||"},
      {"session ended", [&] { fs::remove_all(w.SessionFolder()); }, h, "00||"},
      {"registered elsewhere", [&] { Tool("register", loose); }, h, in(loose)},
      {"unregistered elsewhere", [&] { Tool("unregister", loose); }, h, "00||"},
      {"font folder gained a font", [&] { fs::copy_file(loose, added); }, h, in(added)},
      {"font folder lost it", [&] { fs::remove(added); }, h, "00||"},
      {"conf.d file added",
       [&] { WriteFile(conf, "<fontconfig><dir>" + w.Path("added") + "</dir></fontconfig>"); }, h,
       in(other)},
      {"conf.d file removed", [&] { fs::remove(conf); }, h, "00||"},
      {"registered again", [&] { Reg({loose}); }, h, in(loose)},
      {"registered file replaced",
       [&] {
         fs::copy_file(Font("alpha/VrkAlpha-Bold.ttf"), loose + ".new"),
             fs::rename(loose + ".new", loose);
       },
       h, "00||"},
      {"the replacing font", [] {}, b, in(loose)},
      {"registered file deleted", [&] { fs::remove(loose); }, b, "00||"},
  };
  fs::create_directories(fs::path(conf).parent_path());
  // Few and many calls between changes: a process that keeps asking watches
  // for changes differently.
  for (int calls : {1, 4}) {
    for (const auto& [what, change, ps, expected] : steps) {
      for (int i = 0; i < calls; ++i) Ask(ps, ps == h ? "Vrk Han" : "Vrk Alpha");
      change();
      EXPECT_EQ(Ask(ps, ps == h ? "Vrk Han" : "Vrk Alpha"), expected) << what << ", " << calls;
    }
    w.CopyFont("han/VrkHan-Regular.ttf", "loose/VrkHan-Regular.ttf");
    Unreg({loose});
  }
}

// AddressSanitizer's allocator (GCC 12) keeps a lock that fork() can leave
// held in a child of a process with threads, whatever the library does.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_WHERE_FORK_LEAVES_THE_ALLOCATOR_LOCKED() GTEST_SKIP() << "allocator unsafe across fork"
#else
#define SKIP_WHERE_FORK_LEAVES_THE_ALLOCATOR_LOCKED() (void)0
#endif

// Children forked while another thread is inside a font call (killed when
// they hang), and fresh processes forking a little later each into their
// first call, find the library usable.
TEST_F(Fontconfig, ForkedChildrenCallTheFontExports) {
  SKIP_WHERE_FORK_LEAVES_THE_ALLOCATOR_LOCKED();
  auto answers = [&] {
    return Take(FindFont("VrkTwin-Regular", nullptr)) == twin &&
           FontIsRegistered(nullptr, "VrkTwin-Regular", nullptr) &&
           Take(GetAvailableFonts()).find("VrkTwin-Regular") != std::string::npos;
  };
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    while (!stop) answers();
  });
  int failed = 0;
  for (int i = 0; i < 40; ++i) {
    // Only the child's own verdict: under valgrind a child also exits with
    // valgrind's code for the parent's threads it no longer has.
    int code = InChild([&] { return ::alarm(20), answers() ? 0 : 1; });
    failed += code == 1 || code < 0;
  }
  stop = true;
  busy.join();
  for (int delay = 0; delay < 400; delay += 2) {
    failed +=
        std::system((std::string(VRK_FORK_AT_START) + " " + std::to_string(delay)).c_str()) != 0;
  }
  EXPECT_EQ(failed, 0);
  EXPECT_TRUE(answers());
}

// Without HOME the user's folders are the password entry's; a user without
// one can still look fonts up.
TEST_F(Fontconfig, WithoutHomeTheFoldersAreThePasswordEntrys) {
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    ::unsetenv(name);
  fs::permissions(w.root(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
  EXPECT_EQ(InChild([&] {
              if (::geteuid() == 0 && ::setuid(54321) != 0) return 2;
              return Take(FindFont("VrkTwin-Regular", nullptr)) == twin &&
                             FontIsRegistered(nullptr, "NoSuchFont", "Vrk Twin One")
                         ? 0
                         : 1;
            }),
            0);
  fs::create_directory(w.Path("pwhome"));  // stands in for the real home in a private mount
  int code = InChild([&] {
    const passwd* pw = ::getpwuid(::getuid());
    if (pw == nullptr || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(w.Path("pwhome").c_str(), pw->pw_dir, nullptr, MS_BIND, nullptr) != 0) {
      return 3;
    }
    return Reg({alpha}), 0;
  });
  if (code == 3) GTEST_SKIP() << "no mount namespace to stand in for the home folder";
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(fs::exists(w.Path("pwhome/.config/fontconfig/conf.d/50-vrkfont-session-fonts.conf")));
}

TEST_F(Fontconfig, FoldersMadeUnderAnyUmaskGetTheirOwnModes) {
  ::setenv("HOME", w.Path("fresh").c_str(), 1);
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
    ::unsetenv(name);
  const mode_t old = ::umask(0777);
  const std::string flags = Reg({alpha});
  ::umask(old);
  EXPECT_EQ(flags, "1");
  for (const char* made :
       {"fresh", "fresh/.config/fontconfig/conf.d", "fresh/.cache", "fresh/.local/share/fonts"}) {
    EXPECT_EQ(Mode(w.Path(made)), 0700) << made;
  }
}

}  // namespace
}  // namespace vrk
