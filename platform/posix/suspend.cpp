// The machine's sleep on Linux: /sys/power/state and mem_sleep, rtc0's wake
// alarm, CLOCK_BOOTTIME. The write of the state blocks until the machine
// woke; the wake alarm is the only thing that ends it unattended.
#include "suspend.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kState = "/sys/power/state";
constexpr const char* kMemSleep = "/sys/power/mem_sleep";
constexpr const char* kWakeAlarm = "/sys/class/rtc/rtc0/wakealarm";

// Written with one write(2), so that the kernel's error is the answer.
std::string WriteText(const char* path, std::string_view text) {
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) return std::string(path) + ": " + std::strerror(errno);
  std::setvbuf(file, nullptr, _IONBF, 0);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int error = errno;
  std::fclose(file);
  return written ? std::string() : "writing " + std::string(text) + " to " + path + ": " + std::strerror(error);
}

std::optional<std::string> ReadLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  if (!in.is_open() || !std::getline(in, line)) return std::nullopt;
  return line;
}

}  // namespace

std::optional<std::string> PowerStates() { return ReadLine(kState); }

std::string MemSleep() {
  const std::string line = ReadLine(kMemSleep).value_or("");
  const std::size_t open = line.find('[');
  const std::size_t close = line.find(']', open);
  return open == std::string::npos || close == std::string::npos ? "" : line.substr(open + 1, close - open - 1);
}

bool HasWakeAlarm() { return access(kWakeAlarm, F_OK) == 0; }

bool MaySleep() { return access(kState, W_OK) == 0 && access(kWakeAlarm, W_OK) == 0; }

std::string SetWakeAlarm(unsigned seconds, std::string* previous) {
  *previous = ReadLine(kWakeAlarm).value_or("");
  // An alarm that is set must be cleared before another is.
  if (std::string failed = WriteText(kWakeAlarm, "0"); !failed.empty()) return failed;
  return WriteText(kWakeAlarm, "+" + std::to_string(seconds));
}

std::string PutBackWakeAlarm(const std::string& previous) {
  if (std::string failed = WriteText(kWakeAlarm, "0"); !failed.empty()) return failed;
  return previous.empty() ? std::string() : WriteText(kWakeAlarm, previous);
}

std::string Sleep(std::string_view state) { return WriteText(kState, state); }

double BootClock() {
  timespec now{};
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return 0;
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace platform
