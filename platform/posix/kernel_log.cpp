// Linux's kernel log, /dev/kmsg, read and never written: watched from a
// point on, and searched for a message logged since.
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

#include "kernel_log_record.h"
#include "platform.h"

namespace platform {
namespace {

int g_kernel_log = -1;  // /dev/kmsg, read from where the watch began

}  // namespace

std::string WatchKernelLog() {
  if (g_kernel_log < 0) {
    g_kernel_log = open("/dev/kmsg", O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (g_kernel_log < 0) return "/dev/kmsg: " + std::generic_category().message(errno);
  }
  if (lseek(g_kernel_log, 0, SEEK_END) < 0) return "/dev/kmsg: " + std::generic_category().message(errno);
  return {};
}

std::optional<std::chrono::steady_clock::time_point> KernelLogged(std::string_view message) {
  // One record a read (kernel_log_record.h). EPIPE: records were
  // overwritten; read on.
  char record[8192];
  for (int reads = 0; g_kernel_log >= 0 && reads < 1000; ++reads) {
    const ssize_t got = read(g_kernel_log, record, sizeof record - 1);
    if (got < 0 && errno == EPIPE) continue;
    if (got <= 0) break;
    const auto parsed = ParseKernelLogRecord(std::string_view(record, static_cast<std::size_t>(got)));
    if (!parsed || parsed->message != message) continue;
    // libstdc++'s steady clock is CLOCK_MONOTONIC, the clock of the stamps.
    return std::chrono::steady_clock::time_point(parsed->stamp);
  }
  return std::nullopt;
}

}  // namespace platform
