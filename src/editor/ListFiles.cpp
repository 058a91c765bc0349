// Enumerating, naming and deleting list directories.
#include "editor/ListFiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Error.h"
#include "platform/FileSystem.h"

namespace orvex {
namespace {

std::string TimeStamp(const LocalDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.millisecond);
  return text;
}

}  // namespace

std::vector<ListEntry> FindLists(const std::string& programDirectory) {
  std::vector<ListEntry> lists;
  const std::string data = programDirectory + "Data/";
  for (const auto& entry : ListDirectory(data)) {
    if (entry.name.empty() || entry.name.front() == '.') continue;
    const std::string file = data + entry.name + "/maillist.ini";
    if (!FileExists(file)) continue;
    std::string name = IniFile(file).ReadString("General", "Name", "");
    if (!name.empty()) lists.push_back({std::move(name), entry.name});
  }
  return lists;
}

ListContent ReadListFiles(const std::string& directory) {
  const char* const kNotOpened = "\r\nThe list was not opened.";
  ListContent list{IniFile(directory + "maillist.ini"), NameValueList()};
  if (!list.settings.ReadFailure().empty())
    throw Error("Cannot read " + list.settings.Path() + ": " + list.settings.ReadFailure() +
                kNotOpened);
  try {
    list.subscribers.LoadStoreFile(directory + "subscribers.ini");
  } catch (const Error& error) {
    throw Error(error.what() + std::string(kNotOpened));
  }
  return list;
}

std::string NewListDirectory(const std::string& programDirectory, const Clock& clock) {
  // The clock moves on within a few tries; one that stands still (or a run of taken names) must
  // not hold the editor for ever, so a counter takes over.
  constexpr int kClockTries = 1000;
  constexpr int kCounterTries = 1000;
  std::string stamp;
  for (int attempt = 0; attempt < kClockTries; ++attempt) {
    stamp = TimeStamp(clock.Now());
    std::string path = programDirectory + "Data/" + stamp + "/";
    if (!DirectoryExists(path)) return path;
  }
  for (int counter = 2; counter < kCounterTries; ++counter) {
    std::string path = programDirectory + "Data/" + stamp + "-" + std::to_string(counter) + "/";
    if (!DirectoryExists(path)) return path;
  }
  throw Error("No free name for a new list directory in " + programDirectory + "Data/");
}

bool DeleteTree(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  for (const auto& name : names) {
    const std::string entry = path + name;
    struct stat info {};
    if (::lstat(entry.c_str(), &info) != 0) return false;
    if (S_ISDIR(info.st_mode)) {
      if (!DeleteTree(entry + "/")) return false;
    } else {
      if (S_ISREG(info.st_mode) && (info.st_mode & S_IWUSR) == 0) return false;
      if (::unlink(entry.c_str()) != 0) return false;
    }
  }
  std::string self = path;
  if (self.size() > 1 && self.back() == '/') self.pop_back();
  return ::rmdir(self.c_str()) == 0;
}

}  // namespace orvex
