// SPDX-License-Identifier: MIT
// The shared file reading and writing of the Linux backends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/linux/FileIo.h"

namespace fs = std::filesystem;
using vrk::platform::ReadRegularFile;
using vrk::platform::WriteFileWhole;

namespace {

class FileIo : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vrk-fileio-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Put(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  fs::path dir_;
};

TEST_F(FileIo, ReadsOnlyRegularFilesWithinTheLimit) {
  std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // opening would block for a writer
  struct Case {
    std::string path;
    size_t limit;
    std::optional<std::string> read;
  } cases[] = {
      {Put("four", "abcd"), 4, "abcd"},
      {Put("five", "abcde"), 4, std::nullopt},
      {Put("empty", ""), 0, ""},
      {fifo, 64, std::nullopt},
      {dir_.string(), 64, std::nullopt},
      {(dir_ / "missing").string(), 64, std::nullopt},
      {std::string("four\0x", 6), 64, std::nullopt},
      {"", 64, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadRegularFile(c.path, c.limit), c.read) << c.path;
}

TEST_F(FileIo, WritesWholeOrLeavesTheOldFile) {
  std::string path = Put("file", "old");
  ASSERT_TRUE(WriteFileWhole(path, "new", 0600));
  EXPECT_EQ(ReadRegularFile(path, 64), "new");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  EXPECT_FALSE(WriteFileWhole((dir_ / "no" / "file").string(), "x"));
  EXPECT_FALSE(WriteFileWhole(dir_.string() + "/", "x"));
  // A folder in the way cannot be replaced by a file.
  fs::create_directory(dir_ / "folder");
  EXPECT_FALSE(WriteFileWhole((dir_ / "folder").string(), "x"));
  EXPECT_TRUE(fs::is_directory(dir_ / "folder"));

  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 2u) << "no temporary file stays behind";
}

}  // namespace
