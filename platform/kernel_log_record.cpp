#include "kernel_log_record.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace platform {

std::optional<KernelLogRecord> ParseKernelLogRecord(std::string_view record) {
  const std::size_t head_end = record.find(';');
  if (head_end == std::string_view::npos) return std::nullopt;
  const std::string_view message = record.substr(head_end + 1, record.find('\n', head_end) - head_end - 1);
  const std::string_view head = record.substr(0, head_end);
  const std::size_t first = head.find(',');
  const std::size_t second = first == std::string_view::npos ? first : head.find(',', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view stamp = head.substr(second + 1, head.find(',', second + 1) - second - 1);
  unsigned long long microseconds = 0;
  const auto [end, error] = std::from_chars(stamp.data(), stamp.data() + stamp.size(), microseconds);
  if (error != std::errc() || end != stamp.data() + stamp.size() ||
      microseconds > static_cast<unsigned long long>(std::numeric_limits<std::chrono::microseconds::rep>::max())) {
    return std::nullopt;
  }
  return KernelLogRecord{.message = message,
                         .stamp = std::chrono::microseconds(static_cast<std::chrono::microseconds::rep>(microseconds))};
}

}  // namespace platform
