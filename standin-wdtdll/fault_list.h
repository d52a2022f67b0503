// The simulated watchdog's fault list: which calls return which status.
//
// Grammar (no spaces): an empty text, or entries separated by commas, each
//   Operation=Status      every call of Operation returns Status
//   Operation#N=Status    only its N-th call (N from 1 to 4294967295) does
// Operation is one of the six library operations, Status a decimal 32-bit
// signed integer. An Operation#N entry wins over an Operation entry; the same
// entry given twice is an error.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wdtDLL.h"

namespace sim {

enum class Operation {
  InitializeSession,
  EnableTimer,
  DisableTimer,
  WriteTimerValue,
  ReadTimerValue,
  CloseSession,
};

inline constexpr std::array<std::string_view, 6> kOperationNames = {
    "InitializeSession", "EnableTimer",    "DisableTimer",
    "WriteTimerValue",   "ReadTimerValue", "CloseSession",
};

std::string_view OperationName(Operation operation);

inline constexpr std::uint64_t kEveryCall = 0;
// The call numbers that an Operation#N entry takes.
inline constexpr std::uint32_t kFirstCall = 1;
inline constexpr std::uint32_t kLastCall = std::numeric_limits<std::uint32_t>::max();

struct Fault {
  Operation operation;
  std::uint64_t call;  // 1-based call number, or kEveryCall
  StatusCode status;
  bool operator==(const Fault&) const = default;
};

struct FaultList {
  std::vector<Fault> faults;
  std::string error;  // empty when the text was valid; then says what is wrong
};

FaultList ParseFaultList(std::string_view text);

// The status that the call_number-th call of operation is to return, if any.
std::optional<StatusCode> InjectedStatus(const std::vector<Fault>& faults,
                                         Operation operation, std::uint64_t call_number);

}  // namespace sim
