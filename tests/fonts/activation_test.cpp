// SPDX-License-Identifier: MIT
// Programs already running see activations at their next fontconfig rescan,
// from the user's first activation on: each probe below started before the
// change it has to notice, in a private world without the user's folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "helper/JsonHelper.h"
#include "platform/linux/LinkRegistry.h"
#include "support/RunCommand.h"
#include "support/Take.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;

std::string Han() {
  return fs::canonical(fs::path(VRK_TEST_FONTS) / "han/VrkHan-Regular.ttf").string();
}

// The probe program, asking for one family; it ends when its input closes.
class Probe {
 public:
  explicit Probe(const char* family) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execl(VRK_PROBE, VRK_PROBE, family, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~Probe() {
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }

  // The next line the probe prints, or "" when none comes within `limit`.
  std::string Next(std::chrono::milliseconds limit = std::chrono::seconds(3)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{output_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char buf[256];
      ssize_t n = ::read(output_, buf, sizeof buf);
      if (n <= 0) return "";
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
};

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrkfont-activation-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = fs::canonical(pattern).string();
    // No conf.d and no fonts folder yet: the user's first activation.
    for (const char* dir : {"home", "config", "data", "cache", "run"}) {
      fs::create_directory(root_ + "/" + dir);
    }
    fs::permissions(root_ + "/run", fs::perms::owner_all);
    ::setenv("HOME", (root_ + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
    std::ofstream(root_ + "/fonts.conf")
        << "<fontconfig><dir prefix='xdg'>fonts</dir><cachedir>" << root_
        << "/cache/fc</cachedir><include ignore_missing='yes' prefix='xdg'>"
        << "fontconfig/conf.d</include></fontconfig>";
    ::setenv("FONTCONFIG_FILE", (root_ + "/fonts.conf").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  std::string root_;
};

TEST_F(ActivationTest, RunningProgramsSeeEveryActivationAndDeactivation) {
  const std::string list = Json(std::vector<std::string>{Han()}).dump();
  Probe first("Vrk Han");
  ASSERT_EQ(first.Next(), "ready");
  ASSERT_EQ(first.Next(), "absent");

  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_EQ(first.Next(), "present");
  EXPECT_EQ(Take(UnRegisterFont(list.c_str())), "1");
  EXPECT_EQ(first.Next(), "absent");

  Probe later("Vrk Han");
  ASSERT_EQ(later.Next(), "ready");
  ASSERT_EQ(later.Next(), "absent");
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_EQ(first.Next(), "present");
  EXPECT_EQ(later.Next(), "present");
  EXPECT_EQ(Take(UnRegisterFont(list.c_str())), "1");
  EXPECT_EQ(first.Next(), "absent");
  EXPECT_EQ(later.Next(), "absent");
}

// A real change settles the folder on a whole second; registering an active
// file again changes no link, so it neither waits nor settles.
TEST_F(ActivationTest, OnlyRealChangesSettleTheFolderTime) {
  const std::string list = Json(std::vector<std::string>{Han()}).dump();
  const std::string folder = root_ + "/run/vrkfont-fonts";
  auto nanoseconds = [&] {
    struct stat st {};
    ::stat(folder.c_str(), &st);
    return st.st_mtim.tv_nsec;
  };
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_EQ(nanoseconds(), 0);
  // Something else touches the folder, at a time within a second.
  const timespec times[2] = {{0, UTIME_OMIT}, {1, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_NE(nanoseconds(), 0);
  EXPECT_EQ(Take(UnRegisterFont(list.c_str())), "1");
  EXPECT_EQ(nanoseconds(), 0);
}

TEST_F(ActivationTest, FontsReachedThroughTheLinkAreListedOnce) {
  const std::string list = Json(std::vector<std::string>{Han()}).dump();
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_EQ(fs::read_symlink(root_ + "/data/fonts/vrkfont-session").string(),
            root_ + "/run/vrkfont-fonts");
  std::string files = test::RunCommand("fc-list --format '%{file}\\n' ':family=Vrk Han'");
  EXPECT_EQ(files, root_ + "/run/vrkfont-fonts/" + platform::LinkRegistry::NameFor(Han()) + "\n");
  auto fonts = JsonHelper::jsonToObject(Take(GetAvailableFonts()));
  ASSERT_TRUE(fonts && fonts->is_array());
  std::vector<Json> han;
  for (const auto& font : *fonts) {
    if (font["postscriptName"] == "VrkHan-Regular") han.push_back(font["path"]);
  }
  EXPECT_EQ(han, std::vector<Json>{Han()});
}

TEST_F(ActivationTest, LinkToAFolderOthersCouldMakeIsWithdrawn) {
  fs::create_directories(root_ + "/data/fonts");
  const std::string link = root_ + "/data/fonts/vrkfont-session";
  fs::create_directory_symlink("/tmp/vrkfont-planted-by-someone/fonts", link);
  EXPECT_FALSE(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr));
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));

  // A folder of the user's of the same name is never replaced.
  fs::create_directory(link);
  const std::string list = Json(std::vector<std::string>{Han()}).dump();
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_TRUE(fs::is_directory(fs::symlink_status(link)));
}

// A fontconfig glob cannot hold such a path: rejecting it could hide the
// user's other fonts, so the session goes without the link.
TEST_F(ActivationTest, FontsFolderAGlobCannotNameGetsNoLink) {
  const std::string data = root_ + "/da*ta";
  fs::create_directory(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  const std::string list = Json(std::vector<std::string>{Han()}).dump();
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
  EXPECT_FALSE(fs::exists(fs::symlink_status(data + "/fonts/vrkfont-session")));
  std::ifstream conf(root_ + "/config/fontconfig/conf.d/50-vrkfont-session-fonts.conf");
  std::string text((std::istreambuf_iterator<char>(conf)), {});
  EXPECT_NE(text.find("<dir>"), std::string::npos);
  EXPECT_EQ(text.find("rejectfont"), std::string::npos);
}

}  // namespace
}  // namespace vrk
