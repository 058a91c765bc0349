// POSIX implementation of the file helpers; every state-holding file goes through here.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Error.h"
#include "platform/FaultInjection.h"

namespace orvex {
namespace {

// Every file the service creates is its owner's alone from the moment it exists: queue files
// and notices carry members' passwords and confirmation codes.
mode_t ModeBits(FileMode) {
  return 0600;
}

bool WriteAll(int fd, std::string_view content) {
  const char* p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string DirectoryOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

std::string FileNameOf(std::string_view path) {
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void SyncDirectory(const std::string& path) {
  const std::string dir = path.empty() ? "." : path;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  if (const int fault = TakeFileFault(FileOperation::Read, path)) {
    errno = fault;
    return std::nullopt;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return std::nullopt;
  }
  std::string content;
  if (st.st_size > 0) content.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      errno = error;
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return content;
}

RegularFileRead ReadRegularFile(const std::string& path, size_t maxBytes) {
  RegularFileRead result;
  if (const int fault = TakeFileFault(FileOperation::Read, path)) {
    result.outcome = RegularFileRead::Outcome::Failed;
    result.error = fault;
    return result;
  }
  // O_NOFOLLOW: a link is never followed to a file outside the list; O_NONBLOCK: opening a FIFO
  // must not wait for a writer that never comes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result.error = errno;
    result.outcome = errno == ENOENT  ? RegularFileRead::Outcome::Missing
                     : errno == ELOOP ? RegularFileRead::Outcome::NotRegular
                                      : RegularFileRead::Outcome::Failed;
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    result.error = errno;
    result.outcome = RegularFileRead::Outcome::Failed;
  } else if (!S_ISREG(st.st_mode)) {
    result.outcome = RegularFileRead::Outcome::NotRegular;
  } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    result.outcome = RegularFileRead::Outcome::TooLarge;
  } else {
    result.content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        result.error = errno;
        result.outcome = RegularFileRead::Outcome::Failed;
        break;
      }
      if (n == 0) break;
      if (result.content.size() + static_cast<size_t>(n) > maxBytes) {  // grew while read
        result.outcome = RegularFileRead::Outcome::TooLarge;
        break;
      }
      result.content.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (result.outcome != RegularFileRead::Outcome::Read) std::string().swap(result.content);
  return result;
}

void ReplaceFileAtomically(const std::string& path, std::string_view content, FileMode mode,
                           const std::string& errorMessage) {
  const std::string message = errorMessage.empty() ? "Cannot create file " + path : errorMessage;
  const auto fail = [&](int error) { throw SystemError(message, error); };
  if (const int fault = TakeFileFault(FileOperation::Write, path)) fail(fault);
  // Keep the permissions of an existing file (an operator may have tightened them).
  mode_t bits = ModeBits(mode);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) bits = st.st_mode & 07777;
  if (mode == FileMode::Private) bits &= 0700;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    // Created owner-only; the wider bits of an existing file are given back once it is written.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) fail(errno);
  ::fchmod(fd, bits);  // the umask must not widen or narrow what was asked for
  bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    if (const int fault = TakeFileFault(FileOperation::Rename, path)) {
      ok = false;
      error = fault;
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
      ok = false;
      error = errno;
    }
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    fail(error);
  }
  SyncDirectory(DirectoryOf(path));
}

bool CreateNewFile(const std::string& path, std::string_view content, FileMode mode) {
  const auto fail = [&](int error) { throw SystemError("Cannot create file " + path, error); };
  if (const int fault = TakeFileFault(FileOperation::Write, path)) fail(fault);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ModeBits(mode));
  if (fd < 0) {
    if (errno == EEXIST) return false;
    fail(errno);
  }
  bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(path.c_str());
    fail(error);
  }
  SyncDirectory(DirectoryOf(path));
  return true;
}

void WriteFileUnsynced(const std::string& path, std::string_view content, FileMode mode) {
  if (const int fault = TakeFileFault(FileOperation::Write, path))
    throw SystemError("Cannot create file " + path, fault);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, ModeBits(mode));
  if (fd < 0) {
    const int error = errno;
    throw SystemError("Cannot create file " + path, error);
  }
  const bool ok = WriteAll(fd, content);
  const int error = errno;
  if (::close(fd) != 0 || !ok) throw SystemError("Cannot write file " + path, ok ? errno : error);
}

void SyncFileSystem(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw SystemError("Cannot open " + directory, error);
  }
  const int result = ::syncfs(fd);
  const int error = errno;
  ::close(fd);
  if (result != 0) throw SystemError("Cannot sync " + directory, error);
}

void RenameFile(const std::string& from, const std::string& to) {
  if (const int fault = TakeFileFault(FileOperation::Rename, to))
    throw SystemError("Cannot rename " + from + " to " + to, fault);
  if (::rename(from.c_str(), to.c_str()) != 0) {
    const int error = errno;
    throw SystemError("Cannot rename " + from + " to " + to, error);
  }
  SyncDirectory(DirectoryOf(to));
}

bool RemoveFile(const std::string& path) {
  if (const int fault = TakeFileFault(FileOperation::Remove, path)) {
    errno = fault;
    return false;
  }
  return ::unlink(path.c_str()) == 0;
}

bool CreateDirectoryOnce(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileIdentity IdentityOf(const std::string& path) {
  struct stat st {};
  FileIdentity identity;
  if (::stat(path.c_str(), &st) != 0) return identity;
  identity.exists = true;
  identity.device = st.st_dev;
  identity.inode = st.st_ino;
  identity.size = static_cast<unsigned long long>(st.st_size);
  identity.modifiedSeconds = st.st_mtim.tv_sec;
  identity.modifiedNanoseconds = st.st_mtim.tv_nsec;
  return identity;
}

std::vector<DirectoryEntry> ListDirectory(const std::string& path) {
  std::vector<DirectoryEntry> entries;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return entries;
  std::string base = path;
  if (!base.empty() && base.back() != '/') base += '/';
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool isDirectory = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) isDirectory = DirectoryExists(base + name);
    entries.push_back({name, isDirectory});
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return entries;
}

}  // namespace orvex
