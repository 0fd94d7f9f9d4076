// SPDX-License-Identifier: MIT
// The font exports on real fontconfig, in a private configuration with
// private XDG folders: the user's own fonts and settings are never touched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "extension/Text.h"
#include "helper/JsonHelper.h"
#include "platform/Env.h"
#include "platform/linux/LinkRegistry.h"
#include "support/RunCommand.h"
#include "support/Take.h"
#include "vrkfont/VRKFont.h"

namespace vrk {
namespace {

namespace fs = std::filesystem;
using platform::kFontScopeNone;
using platform::kFontScopePersistent;
using platform::kFontScopeProcess;
using platform::kFontScopeSession;
using test::RunCommand;

std::string Font(const std::string& name) {
  return fs::canonical(fs::path(VRK_TEST_FONTS) / name).string();
}

std::string ListOf(const std::vector<std::string>& paths) {
  return Json(paths).dump();
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string FcListed(const std::string& postscriptName) {
  return RunCommand("fc-list --format '%{postscriptname}\\n' :postscriptname=" + postscriptName);
}

class FontconfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrkfont-fonts-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = fs::canonical(pattern).string();
    const std::pair<const char*, const char*> folders[] = {
        {"HOME", "home"},          {"XDG_CONFIG_HOME", "config"},
        {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"},
        {nullptr, "system"},       {nullptr, "tmp"}};
    for (const auto& [variable, dir] : folders) {
      fs::create_directory(root_ + "/" + dir);
      if (variable != nullptr) ::setenv(variable, (root_ + "/" + dir).c_str(), 1);
    }
    fs::copy_file(Font("dup1/VrkTwin-Regular.ttf"), root_ + "/system/VrkTwin-Regular.ttf");
    std::ofstream(root_ + "/fonts.conf") << "<fontconfig><dir>" << root_ << "/system</dir>"
                                         << "<dir prefix='xdg'>fonts</dir><cachedir>" << root_
                                         << "/cache/fc</cachedir><include ignore_missing='yes' "
                                         << "prefix='xdg'>fontconfig/conf.d</include></fontconfig>";
    ::setenv("FONTCONFIG_FILE", (root_ + "/fonts.conf").c_str(), 1);
    UseRuntimeDir("run");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void UseRuntimeDir(const std::string& name) {
    runtime_ = root_ + "/" + name;
    fs::create_directory(runtime_);
    fs::permissions(runtime_, fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  std::string SessionFolder() const { return runtime_ + "/vrkfont-fonts"; }
  std::string ConfFile() const {
    return root_ + "/config/fontconfig/conf.d/50-vrkfont-session-fonts.conf";
  }

  std::string root_;
  std::string runtime_;
};

TEST_F(FontconfigTest, RegisterLinksOnlyFontsIntoAPrivateSessionFolder) {
  EXPECT_EQ(RegisterFont("[]"), ConstantEmptyString());
  EXPECT_FALSE(fs::exists(SessionFolder()));
  EXPECT_FALSE(fs::exists(ConfFile()));

  const std::vector<std::string> list = {Font("alpha/VrkAlpha-Regular.ttf"),
                                         root_ + "/missing.ttf",
                                         Font("coll/VrkTrio.ttc"),
                                         Font("junk/NotAFont.ttf"),
                                         Font("odd/Vrk Odd & <Co>.ttf"),
                                         "",
                                         Font("han/VrkHan-Regular.ttf") + std::string("\0.ttf", 5)};
  EXPECT_EQ(Take(RegisterFont(ListOf(list).c_str())), "1|-|0|-|1|-|0|-|1|-|0|-|0");
  struct stat st;
  ASSERT_EQ(::lstat(SessionFolder().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 01700u);
  std::set<std::string> targets;
  for (const auto& entry : fs::directory_iterator(SessionFolder())) {
    // A hex name keeps the caller's file name, whatever it holds, out of the folder.
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.size() == 36 && name.find_first_not_of("0123456789abcdef") == 32 &&
                (name.ends_with(".ttf") || name.ends_with(".ttc")))
        << name;
    targets.insert(fs::read_symlink(entry.path()).string());
  }
  EXPECT_EQ(targets, (std::set<std::string>{list[0], list[2], list[4]}));

  // Written once, not on every registration.
  struct stat before, after;
  ASSERT_EQ(::stat(ConfFile().c_str(), &before), 0);
  EXPECT_EQ(Take(RegisterFont(ListOf({list[0], list[0]}).c_str())), "1|-|1");
  ASSERT_EQ(::stat(ConfFile().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(FontconfigTest, SessionRegistrationReachesOtherProcessesAndOutlivesItsOwn) {
  UseRuntimeDir("run & <session>");  // the folder's name must reach fontconfig intact
  const std::string han = Font("han/VrkHan-Regular.ttf");
  const std::string tool = std::string(VRK_TOOL) + " ";
  EXPECT_EQ(FcListed("VrkHan-Regular"), "");

  EXPECT_EQ(RunCommand(tool + "register " + han), "1\n");
  EXPECT_EQ(FcListed("VrkHan-Regular"), "VrkHan-Regular\n");
  EXPECT_TRUE(FontIsRegistered(han.c_str(), nullptr, nullptr));
  EXPECT_EQ(Take(FindFont("VrkHan-Regular", nullptr)), "Vrk Han|-|" + han);

  EXPECT_EQ(RunCommand(tool + "unregister " + han), "1\n");
  EXPECT_EQ(FcListed("VrkHan-Regular"), "");
  EXPECT_FALSE(FontIsRegistered(han.c_str(), nullptr, nullptr));
  EXPECT_FALSE(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr));
  EXPECT_EQ(Take(FindFont("VrkHan-Regular", nullptr)), "(null)|-|(null)");
  EXPECT_TRUE(fs::exists(han));
}

// The library registers only in the session: the other scopes hold nothing,
// so leaving them always succeeds and never touches the session.
TEST_F(FontconfigTest, OnlyTheSessionHoldsRegistrations) {
  auto& fonts = platform::Env::Get().Fonts();
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf");
  EXPECT_THROW(fonts.RegisterFiles({alpha}, kFontScopePersistent), std::invalid_argument);
  EXPECT_EQ(fonts.ScopeForFile(alpha), kFontScopeNone);
  ASSERT_EQ(Take(RegisterFont(ListOf({alpha}).c_str())), "1");
  EXPECT_EQ(fonts.ScopeForFile(alpha), kFontScopeSession);
  EXPECT_TRUE(fonts.UnregisterFile(alpha, kFontScopePersistent));
  EXPECT_TRUE(fonts.UnregisterFile(alpha, kFontScopeProcess));
  EXPECT_FALSE(fonts.UnregisterFile(alpha, kFontScopeNone));
  EXPECT_EQ(fonts.ScopeForFile(alpha), kFontScopeSession);
  EXPECT_TRUE(fonts.UnregisterFile(alpha, kFontScopeSession));
  EXPECT_EQ(fonts.ScopeForFile(alpha), kFontScopeNone);
}

TEST_F(FontconfigTest, FindFontAnswersOnlyAFontCarryingTheNames) {
  const std::string regular = Font("alpha/VrkAlpha-Regular.ttf");
  const std::string bold = Font("alpha/VrkAlpha-Bold.ttf");
  const std::string han = Font("han/VrkHan-Regular.ttf");
  ASSERT_EQ(Take(RegisterFont(ListOf({regular, bold, han}).c_str())), "1|-|1|-|1");
  const std::pair<std::pair<const char*, const char*>, std::string> cases[] = {
      {{"VrkAlpha-Bold", nullptr}, "Vrk Alpha|-|" + bold},
      {{nullptr, "Vrk Alpha"}, "Vrk Alpha|-|" + regular},
      {{"VrkAlpha-Bold", "Vrk Alpha"}, "Vrk Alpha|-|" + bold},
      {{nullptr, "维克黑体"}, "Vrk Han|-|" + han},
      {{"VrkAlpha-Bold", "Vrk Han"}, "(null)|-|(null)"},
      {{"VrkAlpha-Bol", nullptr}, "(null)|-|(null)"},  // fontconfig alone answers Bold
      {{"vrkalpha-bold", nullptr}, "(null)|-|(null)"},
      {{nullptr, "No Such Family"}, "(null)|-|(null)"},
  };
  for (const auto& [names, answer] : cases) {
    EXPECT_EQ(Take(FindFont(names.first, names.second)), answer)
        << (names.first ? names.first : "-") << " " << (names.second ? names.second : "-");
  }
  EXPECT_EQ(Take(FindFont(nullptr, nullptr)).find("(null)"), std::string::npos);
  EXPECT_TRUE(FontIsRegistered(nullptr, "Unknown", "Vrk Alpha"));
}

TEST_F(FontconfigTest, InventoryListsEachNameOnceAndTheActivatedCopyFirst) {
  auto inventory = [] {
    std::map<std::string, std::vector<Json>> byName;
    auto list = JsonHelper::jsonToObject(Take(GetAvailableFonts()));
    EXPECT_TRUE(list && list->is_array());
    for (const auto& record : list.value_or(Json::array())) {
      byName[record.at("postscriptName").get<std::string>()].push_back(record);
    }
    return byName;
  };
  auto before = inventory();
  EXPECT_EQ(before["VrkTwin-Regular"].at(0)["family"], "Vrk Twin One");
  EXPECT_EQ(before.count("VrkHan-Regular"), 0u);

  const std::string twin = Font("dup2/VrkTwin-Regular.ttf");
  const std::string trio = Font("coll/VrkTrio.ttc");
  ASSERT_EQ(Take(RegisterFont(ListOf({twin, trio, Font("han/VrkHan-Regular.ttf")}).c_str())),
            "1|-|1|-|1");
  auto after = inventory();
  for (const auto& [name, records] : after) EXPECT_EQ(records.size(), 1u) << name;
  EXPECT_EQ(after["VrkTwin-Regular"].at(0), (Json{{"path", twin},
                                                  {"postscriptName", "VrkTwin-Regular"},
                                                  {"family", "Vrk Twin Two"},
                                                  {"style", "Regular"}}));
  EXPECT_EQ(after["VrkHan-Regular"].at(0)["family"], "维克黑体");
  for (const char* face : {"VrkTrio-Light", "VrkTrio-Regular", "VrkTrio-Bold"}) {
    EXPECT_EQ(after[face].at(0)["path"], trio) << face;
  }
}

std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

// Without a usable runtime folder the session lives in the user's cache
// folder under the boot's id, never in a folder other users can write to.
TEST_F(FontconfigTest, FallbackSessionFolderIsTheUsersOwnAndEndsWithTheBoot) {
  const std::string folder = root_ + "/cache/vrkfont-fonts-" + BootId();
  const std::string list = ListOf({Font("alpha/VrkAlpha-Regular.ttf")});
  const std::string earlier = root_ + "/cache/vrkfont-fonts-00000000-0000-0000-0000-000000000000";
  const std::string notOurs = root_ + "/cache/vrkfont-fonts-11111111-1111-1111-1111-111111111111";
  fs::create_directory(earlier);
  fs::create_symlink(Font("han/VrkHan-Regular.ttf"), earlier + "/0123.ttf");
  fs::create_directory(root_ + "/elsewhere");
  std::ofstream(root_ + "/elsewhere/keep.ttf") << "x";
  fs::create_directory_symlink(root_ + "/elsewhere", notOurs);

  fs::permissions(runtime_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  for (bool runtimeSet : {true, false}) {  // open to others, then none at all
    if (!runtimeSet) ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
    struct stat st;
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01700u);
    EXPECT_NE(fs::file_size(ConfFile()), 0u);
    EXPECT_NE(ReadText(ConfFile()).find("<dir>" + folder + "</dir>"), std::string::npos);
    EXPECT_EQ(FcListed("VrkAlpha-Regular"), "VrkAlpha-Regular\n");
  }
  EXPECT_FALSE(fs::exists(earlier));
  EXPECT_TRUE(fs::exists(root_ + "/elsewhere/keep.ttf"));
  EXPECT_FALSE(fs::exists(runtime_ + "/vrkfont-fonts"));

  // Planted in its place: refused, and the configuration stops naming it.
  fs::remove_all(folder);
  fs::create_directory_symlink(root_ + "/elsewhere", folder);
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "0");
  EXPECT_FALSE(fs::exists(ConfFile()));
  EXPECT_EQ(FcListed("VrkAlpha-Regular"), "");
  EXPECT_EQ(fs::read_symlink(folder), root_ + "/elsewhere");
  if (::geteuid() == 0) {
    fs::remove(folder);
    fs::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_EQ(Take(RegisterFont(list.c_str())), "0");
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

// A conf.d file left naming a folder others can make or own, as earlier
// versions' fallback under /tmp did, is taken out before any lookup loads it.
TEST_F(FontconfigTest, AnnouncedFolderOthersCouldPlantIsWithdrawn) {
  fs::permissions(root_ + "/tmp", fs::perms::all | fs::perms::sticky_bit);
  fs::create_directories(root_ + "/config/fontconfig/conf.d");
  const std::string han = Font("han/VrkHan-Regular.ttf");
  struct Case {
    std::string folder;
    enum { kMissing, kOthers, kOwn } kind;
    bool kept;
  };
  const Case cases[] = {
      {root_ + "/tmp/vrkfont-fonts-" + std::to_string(::geteuid()), Case::kMissing, false},
      {root_ + "/tmp/theirs & co", Case::kOthers, false},
      {root_ + "/own", Case::kOwn, true},
  };
  for (const Case& c : cases) {
    if (c.kind == Case::kOthers && ::geteuid() != 0) continue;  // needs chown
    SCOPED_TRACE(c.folder);
    if (c.kind != Case::kMissing) {
      fs::create_directory(c.folder);
      fs::permissions(c.folder, fs::perms::owner_all);
      fs::copy_file(han, c.folder + "/font.ttf");
      if (c.kind == Case::kOthers) {
        ASSERT_EQ(::chown(c.folder.c_str(), 65534, 65534), 0);
      }
    }
    std::string text;
    for (char ch : c.folder) text += ch == '&' ? std::string("&amp;") : std::string(1, ch);
    std::ofstream(ConfFile()) << "<?xml version=\"1.0\"?>\n<fontconfig>\n  <dir>" << text
                              << "</dir>\n</fontconfig>\n";
    if (c.kept) {
      EXPECT_EQ(FcListed("VrkHan-Regular"), "VrkHan-Regular\n");
    } else {
      EXPECT_EQ(Take(FindFont("VrkHan-Regular", nullptr)), "(null)|-|(null)");
      EXPECT_EQ(FcListed("VrkHan-Regular"), "");
    }
    EXPECT_EQ(fs::exists(ConfFile()), c.kept);
  }
}

TEST_F(FontconfigTest, EachFileKeepsItsFlagWhenOthersCannotBeLinked) {
  // The link keeps the extension, so this one's link name is too long.
  const std::string longName = root_ + "/x." + std::string(250, 'e');
  fs::copy_file(Font("alpha/VrkAlpha-Bold.ttf"), longName);
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf");
  const std::string trio = Font("coll/VrkTrio.ttc");
  EXPECT_EQ(Take(RegisterFont(ListOf({alpha, longName, trio}).c_str())), "1|-|0|-|1");
  EXPECT_TRUE(FontIsRegistered(alpha.c_str(), nullptr, nullptr));
  EXPECT_FALSE(FontIsRegistered(longName.c_str(), nullptr, nullptr));
  EXPECT_EQ(Take(FindFont("VrkTrio-Bold", nullptr)), "Vrk Trio|-|" + trio);
}

// The test font as a collection whose header declares `faces` faces, every
// one of them the same face, padded as large as such a file would be.
std::string CollectionOf(const std::string& font, uint32_t faces) {
  std::string face = ReadText(font);
  auto be32 = [](uint32_t v) {
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  };
  const uint32_t header = 12 + 4 * faces;
  std::string out = "ttcf" + be32(0x00010000) + be32(faces);
  for (uint32_t i = 0; i < faces; ++i) out += be32(header);
  const size_t tables = (uint8_t(face[4]) << 8) | uint8_t(face[5]);
  for (size_t i = 0; i < tables; ++i) {  // table offsets count from the file's start
    const size_t at = 12 + 16 * i + 8;
    uint32_t offset = (uint32_t(uint8_t(face[at])) << 24) | (uint8_t(face[at + 1]) << 16) |
                      (uint8_t(face[at + 2]) << 8) | uint8_t(face[at + 3]);
    face.replace(at, 4, be32(offset + header));
  }
  out += face;
  // FreeType believes only a count the file is large enough for.
  out.resize(std::max<size_t>(out.size(), 32 * size_t{faces}), '\0');
  return out;
}

TEST_F(FontconfigTest, CollectionsDeclaringAbsurdFaceCountsAreRefused) {
  const std::pair<uint32_t, const char*> cases[] = {{2, "1"}, {256, "1"}, {257, "0"}, {5000, "0"}};
  for (const auto& [faces, flag] : cases) {
    const std::string file = root_ + "/c" + std::to_string(faces) + ".ttc";
    std::ofstream(file, std::ios::binary)
        << CollectionOf(Font("alpha/VrkAlpha-Regular.ttf"), faces);
    EXPECT_EQ(Take(RegisterFont(ListOf({file}).c_str())), flag) << faces;
  }
}

TEST_F(FontconfigTest, RegistrationNoFontconfigClientWouldSeeAnswersZero) {
  const std::string list = ListOf({Font("alpha/VrkAlpha-Regular.ttf")});
  ASSERT_EQ(::chdir(root_.c_str()), 0);
  // A folder name XML cannot carry, then a configuration folder fontconfig
  // reads from somewhere else than the XDG rules say.
  for (const char* runtime : {"run\x01", "run\xff", ""}) {
    SCOPED_TRACE(runtime);
    if (*runtime != '\0') {
      UseRuntimeDir(runtime);
    } else {
      UseRuntimeDir("run");
      ::setenv("XDG_CONFIG_HOME", "config", 1);
    }
    EXPECT_EQ(Take(RegisterFont(list.c_str())), "0");
    EXPECT_FALSE(FontIsRegistered(nullptr, "VrkAlpha-Regular", nullptr));
    // Whatever was written, fontconfig reads it without complaint.
    EXPECT_EQ(RunCommand("fc-list : family 2>&1 | grep -ci error"), "0\n");
  }
}

TEST_F(FontconfigTest, FoldersMadeUnderAnyUmaskGetTheirOwnModes) {
  ::setenv("HOME", (root_ + "/fresh").c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_CACHE_HOME");
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string list = ListOf({Font("alpha/VrkAlpha-Regular.ttf")});
  const mode_t old = ::umask(0777);
  const std::string flags = Take(RegisterFont(list.c_str()));
  ::umask(old);
  EXPECT_EQ(flags, "1");
  for (const char* made : {"fresh", "fresh/.config", "fresh/.config/fontconfig",
                           "fresh/.config/fontconfig/conf.d", "fresh/.cache"}) {
    EXPECT_EQ(fs::status(root_ + "/" + made).permissions(), fs::perms::owner_all) << made;
  }
  EXPECT_EQ(Take(RegisterFont(list.c_str())), "1");
}

TEST_F(FontconfigTest, UnregisteringADeletedFileRemovesItsLink) {
  for (bool wholeFolder : {false, true}) {
    SCOPED_TRACE(wholeFolder);
    fs::create_directories(root_ + "/user");
    const std::string file = root_ + "/user/font.ttf";
    fs::copy_file(Font("alpha/VrkAlpha-Regular.ttf"), file, fs::copy_options::overwrite_existing);
    ASSERT_EQ(Take(RegisterFont(ListOf({file}).c_str())), "1");
    fs::remove_all(wholeFolder ? root_ + "/user" : file);

    EXPECT_EQ(Take(UnRegisterFont(ListOf({file}).c_str())), "0");
    EXPECT_TRUE(fs::is_empty(SessionFolder()));
    // Another font saved there later was never registered.
    fs::create_directories(root_ + "/user");
    fs::copy_file(Font("han/VrkHan-Regular.ttf"), file);
    EXPECT_FALSE(FontIsRegistered(file.c_str(), nullptr, nullptr));
    EXPECT_FALSE(FontIsRegistered(nullptr, "VrkHan-Regular", nullptr));
    fs::remove_all(root_ + "/user");
  }
}

// Names as the versions with a native 128-bit hash made them: links made
// before an upgrade are found and removed after it.
TEST_F(FontconfigTest, LinkNamesAreThoseOfEarlierVersions) {
  const std::pair<std::string, const char*> names[] = {
      {"", "6c62272e07bb014262b821756295c58d"},
      {"a", "d228cb696f1a8caf78912b704e4a8964"},
      {"/home/me/fonts/VrkAlpha-Regular.ttf", "ccfbac5a7b6451617b4c867aa61b3750"},
      {"/tmp/维克 & <x>.ttc", "40c705070376f8db4c4d1f931fb2b96a"},
      {std::string(1000, 'z'), "85a32af061cf52cb9c15149e5b37f88d"},
  };
  for (const auto& [path, hash] : names) EXPECT_EQ(platform::PathHash(path), hash) << path;

  auto session = platform::SessionRegistry(true);
  ASSERT_TRUE(session);
  const std::string old = "/home/me/fonts/VrkAlpha-Regular.ttf";
  fs::create_symlink(old, SessionFolder() + "/ccfbac5a7b6451617b4c867aa61b3750.ttf");
  EXPECT_TRUE(session->Holds(old));
  EXPECT_TRUE(session->Remove(old));
  EXPECT_TRUE(fs::is_empty(SessionFolder()));
}

TEST_F(FontconfigTest, LinksGoIntoTheFolderThatWasVerified) {
  auto session = platform::SessionRegistry(true);
  ASSERT_TRUE(session);
  // Swapped for a link to someone else's folder after the check.
  fs::rename(SessionFolder(), runtime_ + "/verified");
  fs::create_directory(root_ + "/theirs");
  fs::create_directory_symlink(root_ + "/theirs", SessionFolder());
  const std::string alpha = Font("alpha/VrkAlpha-Regular.ttf");
  EXPECT_TRUE(session->Add(alpha));
  EXPECT_TRUE(fs::is_empty(root_ + "/theirs"));
  EXPECT_EQ(fs::read_symlink(runtime_ + "/verified/" + platform::LinkRegistry::NameFor(alpha)),
            alpha);
  EXPECT_TRUE(session->Remove(alpha));
  EXPECT_TRUE(fs::is_empty(runtime_ + "/verified"));
}

}  // namespace
}  // namespace vrk
