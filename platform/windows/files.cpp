// The Windows file calls behind FileCalls (platform.h): the C runtime's
// descriptors, and the system's own calls where the runtime has none (a
// write-through move).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform.h"

namespace platform {
namespace {

int FileKind(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kNoFile : -EACCES;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0
             ? kOtherFile
             : kRegularFile;
}

int CreateTemp(const char* folder, std::string* path) {
  char name[MAX_PATH];
  if (GetTempFileNameA(folder, "wdt", 0, name) == 0) return -EACCES;  // creates it, empty
  const int fd = _open(name, _O_WRONLY | _O_BINARY | _O_TRUNC);
  if (fd < 0) {
    const int error = errno;
    DeleteFileA(name);
    return -error;
  }
  *path = name;
  return fd;
}

long WriteBytes(int fd, const char* data, std::size_t size) {
  const int written = _write(fd, data, static_cast<unsigned>(size));
  return written < 0 ? -errno : written;
}

int Result(int result) { return result < 0 ? -errno : 0; }
int SyncFile(int fd) { return Result(_commit(fd)); }
int CloseFile(int fd) { return Result(_close(fd)); }
// Write-through: the move is on the disk when the call returns.
int RenameFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -EACCES;
}
int RemoveFile(const char* path) { return DeleteFileA(path) ? 0 : -ENOENT; }
int SyncFolder(const char*) { return 0; }  // the write-through move covers it

int OpenExisting(const char* path) {
  if (FileKind(path) != kRegularFile) return -EINVAL;
  const int fd = _open(path, _O_WRONLY | _O_BINARY);
  return fd < 0 ? -errno : fd;
}

long WriteAt(int fd, const char* data, std::size_t size, std::size_t offset) {
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -errno;
  return WriteBytes(fd, data, size);
}

int SyncData(int fd) { return Result(_commit(fd)); }

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
