// Files and directories: whole-file reads, atomic replacement, exclusive creation, scans.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// Every file is created readable by its owner only. Private files (those that may hold passwords)
// are also narrowed to the owner when an existing file had wider bits; a Normal file keeps the
// bits an operator gave it.
enum class FileMode { Normal, Private };

// The whole content of a file, or nothing when it is missing or cannot be read (errno says why).
std::optional<std::string> ReadWholeFile(const std::string& path);

// A queue file read without trusting what lies in the queue folder: links are not followed,
// FIFOs and devices are not opened for a blocking read, and the size is bounded while reading.
struct RegularFileRead {
  enum class Outcome { Read, Missing, NotRegular, TooLarge, Failed };
  Outcome outcome = Outcome::Read;
  std::string content;  // with Outcome::Read only
  int error = 0;        // the errno, with Outcome::Failed (and Missing)
};
RegularFileRead ReadRegularFile(const std::string& path, size_t maxBytes);

// Replaces `path` atomically: a temporary file in the same directory is created with O_EXCL,
// written, synced and renamed over the target, then the directory is synced. A kill at any
// moment leaves either the old or the new file. Throws orvex::Error with `errorMessage`
// (or "Cannot create file <path>" when empty) followed by ": " and the system's reason if it
// cannot be done.
void ReplaceFileAtomically(const std::string& path, std::string_view content,
                           FileMode mode = FileMode::Normal, const std::string& errorMessage = {});

// Creates a new file that must not exist yet (O_EXCL), writes and syncs it, syncs the directory.
// Returns false when the name is taken; throws orvex::Error on other failures.
bool CreateNewFile(const std::string& path, std::string_view content,
                   FileMode mode = FileMode::Normal);

// Writes a file (created or truncated) without syncing it: for scratch files of a group that
// one `SyncFileSystem` makes durable together. Throws orvex::Error.
void WriteFileUnsynced(const std::string& path, std::string_view content,
                       FileMode mode = FileMode::Private);

// Flushes everything written to the file system that holds `directory` (one sync for many
// files is far cheaper than one per file). Throws orvex::Error.
void SyncFileSystem(const std::string& directory);

// Renames within one file system and syncs the target's directory. Throws orvex::Error.
void RenameFile(const std::string& from, const std::string& to);

// Removes a file; returns false if it did not exist or could not be removed (errno says why).
bool RemoveFile(const std::string& path);

// Creates one directory level; returns false when it exists or cannot be made (never throws).
bool CreateDirectoryOnce(const std::string& path);

bool FileExists(const std::string& path);       // a regular file (or link to one)
bool DirectoryExists(const std::string& path);  // a directory (or link to one)

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
};

// The entries of a directory sorted by name (byte order), without "." and "..". Message file
// names count up with the time they were made, so queues are taken in the order mail arrived
// (the file system's own order is arbitrary). A missing or unreadable directory gives no entries.
std::vector<DirectoryEntry> ListDirectory(const std::string& path);

// What tells one version of a file from another without reading it: a file replaced atomically
// gets a new inode, one written in place a new modification time.
struct FileIdentity {
  bool exists = false;
  unsigned long long device = 0, inode = 0, size = 0;
  long long modifiedSeconds = 0, modifiedNanoseconds = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
FileIdentity IdentityOf(const std::string& path);

// Syncs a directory so that renames and creations in it survive a power cut.
void SyncDirectory(const std::string& path);

// The directory part of a path, ending with "/" ("" for a bare name).
std::string DirectoryOf(std::string_view path);

// The last name of a path; a trailing "/" is passed over ("Data/birds/" gives "birds").
std::string FileNameOf(std::string_view path);

}  // namespace orvex
