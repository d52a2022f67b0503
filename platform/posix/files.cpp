// The POSIX file system calls behind FileCalls (platform.h), each returning
// what the system call returns or the negated errno.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace platform {
namespace {

int FileKind(const char* path) {
  struct stat status {};
  if (lstat(path, &status) != 0) return errno == ENOENT ? kNoFile : -errno;
  return S_ISREG(status.st_mode) ? kRegularFile : kOtherFile;
}

int CreateTemp(const char* folder, std::string* path) {
  std::string name = std::string(folder) + "/.wdt-check-XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -errno;
  *path = name;
  return fd;
}

long WriteBytes(int fd, const char* data, std::size_t size) {
  const ssize_t written = write(fd, data, size);
  return written < 0 ? -errno : static_cast<long>(written);
}

int Result(int result) { return result < 0 ? -errno : 0; }
int SyncFile(int fd) { return Result(fsync(fd)); }
int CloseFile(int fd) { return Result(close(fd)); }
int RenameFile(const char* from, const char* to) { return Result(rename(from, to)); }
int RemoveFile(const char* path) { return Result(unlink(path)); }

int SyncFolder(const char* folder) {
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  const int synced = Result(fsync(fd));
  close(fd);
  return synced;
}

int OpenExisting(const char* path) {
  const int fd = open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return fd < 0 ? -errno : fd;
}

long WriteAt(int fd, const char* data, std::size_t size, std::size_t offset) {
  const ssize_t written = pwrite(fd, data, size, static_cast<off_t>(offset));
  return written < 0 ? -errno : static_cast<long>(written);
}

int SyncData(int fd) { return Result(fdatasync(fd)); }

}  // namespace

FileCalls DurableFileCalls() {
  return {.kind = FileKind,
          .create_temp = CreateTemp,
          .write = WriteBytes,
          .sync = SyncFile,
          .close = CloseFile,
          .rename = RenameFile,
          .remove = RemoveFile,
          .sync_folder = SyncFolder,
          .open_existing = OpenExisting,
          .write_at = WriteAt,
          .sync_data = SyncData};
}

}  // namespace platform
