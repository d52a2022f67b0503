#include "durable_file.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "printable.h"

namespace platform {
namespace {

std::string Why(int error) { return std::generic_category().message(error); }

// A file open for writing, and where its bytes go.
struct OpenFile {
  int fd;
  std::string_view name;  // what a failure names
  // Nothing: a new file's bytes, one after the other, then the file flushed
  // whole (write, sync). An offset: bytes in place from there, then only
  // the file's data flushed (write_at, sync_data).
  std::optional<std::size_t> offset;
};

// Writes bytes whole (a write takes what it can, an interrupted one is
// made again), flushes them and closes the file, also after a failure.
std::string WriteFlushClose(const FileCalls& calls, const OpenFile& file, std::string_view bytes) {
  std::string failed;
  for (std::string_view rest = bytes; failed.empty() && !rest.empty();) {
    const std::size_t done = bytes.size() - rest.size();
    const long written = file.offset ? calls.write_at(file.fd, rest.data(), rest.size(), *file.offset + done)
                                     : calls.write(file.fd, rest.data(), rest.size());
    if (written == -EINTR) continue;
    if (written <= 0) failed = "cannot write " + wdt::Printable(file.name) + ": " + Why(written < 0 ? -written : EIO);
    else rest.remove_prefix(static_cast<std::size_t>(written));
  }
  if (failed.empty()) {
    const int synced = file.offset ? calls.sync_data(file.fd) : calls.sync(file.fd);
    if (synced < 0) failed = "cannot flush " + wdt::Printable(file.name) + ": " + Why(-synced);
  }
  if (const int closed = calls.close(file.fd); closed < 0 && failed.empty()) {
    failed = "cannot close " + wdt::Printable(file.name) + ": " + Why(-closed);
  }
  return failed;
}

}  // namespace

std::string WriteInPlace(const FileCalls& calls, const std::string& path, std::string_view bytes,
                         std::size_t offset) {
  if (calls.kind(path.c_str()) != kRegularFile) {
    return wdt::Printable(path) + " is no longer a regular file: refused, untouched";
  }
  const int fd = calls.open_existing(path.c_str());
  if (fd < 0) return "cannot open " + wdt::Printable(path) + ": " + Why(-fd);
  return WriteFlushClose(calls, {.fd = fd, .name = path, .offset = offset}, bytes);
}

std::string ReplaceFile(const FileCalls& calls, const std::string& path, std::string_view contents) {
  const int kind = calls.kind(path.c_str());
  if (kind < 0) return "cannot look at " + wdt::Printable(path) + ": " + Why(-kind);
  if (kind == kOtherFile) return wdt::Printable(path) + " is there and is not a regular file: refused, untouched";
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  std::string temp;
  const int fd = calls.create_temp(folder.c_str(), &temp);
  if (fd < 0) return "cannot make a file in " + wdt::Printable(folder) + ": " + Why(-fd);
  std::string failed = WriteFlushClose(calls, {.fd = fd, .name = temp, .offset = std::nullopt}, contents);
  if (const int renamed = failed.empty() ? calls.rename(temp.c_str(), path.c_str()) : 0; renamed < 0) {
    failed = "cannot rename " + wdt::Printable(temp) + " to " + wdt::Printable(path) + ": " + Why(-renamed);
  }
  if (!failed.empty()) {
    calls.remove(temp.c_str());
    return failed;
  }
  // The rename is in the folder: flushed, it survives a reset.
  if (const int synced = calls.sync_folder(folder.c_str()); synced < 0) {
    return "cannot flush the folder " + wdt::Printable(folder) + ": " + Why(-synced);
  }
  return {};
}

}  // namespace platform
