// SPDX-License-Identifier: MIT
#include "platform/linux/DesktopNameTable.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "platform/ForkSafeMutex.h"
#include "platform/linux/DesktopEntries.h"
#include "platform/linux/FileIo.h"

namespace vrk::platform::desktop {

namespace {

// Bounds on the walk that builds the table.
constexpr size_t kMaxTableFiles = 20000;
constexpr int kMaxTableDepth = 8;

NameTable::Folder FolderState(const std::string& path) {
  NameTable::Folder f{path};
  if (auto st = StatPath(path)) {
    f.dev = st->st_dev;
    f.ino = st->st_ino;
    f.mtime = static_cast<int64_t>(st->st_mtim.tv_sec) * 1000000000 + st->st_mtim.tv_nsec;
  }
  return f;
}

class TableBuilder {
 public:
  explicit TableBuilder(NameTable& table) : table_(table) {}

  void Walk(const std::string& folder, const std::string& idPrefix, int depth) {
    table_.folders.push_back(FolderState(folder));
    auto st = StatPath(folder);
    if (!st || !S_ISDIR(st->st_mode) || depth > kMaxTableDepth) return;
    if (!entered_.insert({st->st_dev, st->st_ino}).second) return;
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
      while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());  // the same table whatever the listing order
    for (const std::string& name : names) {
      if (files_ >= kMaxTableFiles) return;
      ++files_;
      std::string path = folder + "/" + name;
      auto child = StatPath(path);
      if (!child) continue;
      if (S_ISDIR(child->st_mode)) {
        Walk(path, idPrefix + name + "-", depth + 1);
      } else if (S_ISREG(child->st_mode) && name.size() > 8 && name.ends_with(".desktop")) {
        Add(idPrefix + name.substr(0, name.size() - 8), path);
      }
    }
  }

 private:
  // The first entry with an ID hides the later ones, usable or not.
  void Add(const std::string& id, const std::string& path) {
    if (!seen_.insert(id).second) return;
    std::optional<Entry> entry = ReadEntry(path);
    if (!entry || entry->type != "Application" || entry->hidden || entry->name.empty()) return;
    table_.byId.emplace(id, entry->name);
    if (!entry->startupWmClass.empty()) {
      table_.byWmClass.emplace(entry->startupWmClass, entry->name);
    }
  }

  NameTable& table_;
  std::set<FolderId> entered_;
  std::set<std::string> seen_;
  size_t files_ = 0;
};

std::shared_ptr<const NameTable> BuildTable(const std::vector<std::string>& data) {
  auto table = std::make_shared<NameTable>();
  table->data = data;
  TableBuilder builder(*table);
  for (const std::string& folder : data) {
    table->folders.push_back(FolderState(folder));
    builder.Walk(folder + "/applications", "", 0);
  }
  return table;
}

bool Stale(const NameTable& table, const std::vector<std::string>& data) {
  if (table.data != data) return true;
  for (const NameTable::Folder& f : table.folders) {
    if (!(FolderState(f.path) == f)) return true;
  }
  return false;
}

// Never destroyed: exports may still run while the process exits.
std::shared_ptr<const NameTable>& CurrentTable() {
  static auto* current = new std::shared_ptr<const NameTable>;
  return *current;
}

// Made while the library loads, before any thread can fork meanwhile.
[[maybe_unused]] const bool kCurrentReady = (CurrentTable(), ForkSafeMutex<NameTable>(), true);

}  // namespace

std::optional<std::string> NameTable::NameFor(std::string_view instance,
                                              std::string_view klass) const {
  for (const auto* map : {&byWmClass, &byId}) {
    for (std::string_view key : {klass, instance}) {
      if (key.empty()) continue;
      if (auto it = map->find(key); it != map->end()) return it->second;
    }
  }
  return std::nullopt;
}

std::shared_ptr<const NameTable> CurrentNames() {
  std::vector<std::string> data = DataFolders();
  std::lock_guard<std::mutex> lock(ForkSafeMutex<NameTable>());
  std::shared_ptr<const NameTable>& current = CurrentTable();
  if (!current || Stale(*current, data)) current = BuildTable(data);
  return current;
}

}  // namespace vrk::platform::desktop
