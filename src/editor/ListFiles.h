// The lists under Data as the editor sees them: finding them, naming a new one, deleting one.
#pragma once

#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "store/IniFile.h"
#include "store/NameValueList.h"

namespace orvex {

struct ListEntry {
  std::string name;       // Name of section General
  std::string directory;  // the directory's name under Data
};

// The directories under programDirectory + "Data/" whose maillist.ini names a list, in the order
// the file system lists them. Names starting with "." are hidden and passed over.
std::vector<ListEntry> FindLists(const std::string& programDirectory);

// The two files of a list, read whole before the window shows any of it.
struct ListContent {
  IniFile settings;
  NameValueList subscribers;
};

// Reads `directory` + "maillist.ini" and + "subscribers.ini"; a missing file reads as empty.
// orvex::Error ("Cannot read <path>: <reason>" and that the list was not opened) when either
// exists but cannot be read whole: a list shown with defaults or without its subscribers would
// be saved over what its files hold.
ListContent ReadListFiles(const std::string& directory);

// programDirectory + "Data/" + the 17 digits of the current time + "/", formed again from the
// then current time while a directory of that path exists. When the clock does not move on
// (1000 tries), "-2", "-3" ... "-999" follow the digits; orvex::Error when even those are taken.
// Nothing is created.
std::string NewListDirectory(const std::string& programDirectory, const Clock& clock);

// Deletes the directory `path` (ending with "/") and everything in it. Stops at the first entry
// that cannot be deleted; what was deleted stays deleted. A file without its owner's write
// permission is read-only and is not deleted. Symbolic links are removed, never followed.
bool DeleteTree(const std::string& path);

}  // namespace orvex
