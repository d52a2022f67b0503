#include "fault_list.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "printable.h"

namespace sim {
namespace {

std::optional<Operation> FindOperation(std::string_view name) {
  for (std::size_t i = 0; i < kOperationNames.size(); ++i) {
    if (kOperationNames[i] == name) return static_cast<Operation>(i);
  }
  return std::nullopt;
}

// A whole decimal number in [min, max]: digits only, a minus sign only when
// negative values are allowed.
template <typename Int>
std::optional<Int> ParseDecimal(std::string_view text, Int min, Int max) {
  const bool negative = !text.empty() && text.front() == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() || (negative && min >= 0) ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return std::nullopt;
  }
  return static_cast<Int>(value);
}

// Parses one entry into fault, or says what is wrong with it.
std::string ParseEntry(std::string_view entry, Fault& fault) {
  if (entry.empty()) return "empty entry";
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) return "no '=' before the status";
  std::string_view target = entry.substr(0, equals);
  const std::string_view status_text = entry.substr(equals + 1);

  fault.call = kEveryCall;
  if (const std::size_t hash = target.find('#'); hash != std::string_view::npos) {
    const auto call = ParseDecimal<std::uint32_t>(target.substr(hash + 1), 1,
                                                  std::numeric_limits<std::uint32_t>::max());
    if (!call) return "call number is not a whole number from 1 to 4294967295";
    fault.call = *call;
    target = target.substr(0, hash);
  }
  const auto operation = FindOperation(target);
  if (!operation) return "unknown operation '" + wdt::Printable(target) + "'";
  fault.operation = *operation;

  const auto status = ParseDecimal<StatusCode>(status_text,
                                               std::numeric_limits<StatusCode>::min(),
                                               std::numeric_limits<StatusCode>::max());
  if (!status) return "status is not a decimal 32-bit signed integer";
  fault.status = *status;
  return {};
}

}  // namespace

std::string_view OperationName(Operation operation) {
  return kOperationNames[static_cast<std::size_t>(operation)];
}

FaultList ParseFaultList(std::string_view text) {
  FaultList list;
  if (text.empty()) return list;
  std::size_t number = 0;
  for (std::size_t start = 0;;) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view entry = text.substr(start, comma - start);
    ++number;
    Fault fault{};
    std::string why = ParseEntry(entry, fault);
    if (why.empty() && std::any_of(list.faults.begin(), list.faults.end(), [&](const Fault& f) {
          return f.operation == fault.operation && f.call == fault.call;
        })) {
      why = "the same operation and call are given twice";
    }
    if (!why.empty()) {
      list.faults.clear();
      list.error = "entry " + std::to_string(number) + " '" + wdt::Printable(entry) + "': " + why;
      return list;
    }
    list.faults.push_back(fault);
    if (comma == text.size()) return list;
    start = comma + 1;
  }
}

std::optional<StatusCode> InjectedStatus(const std::vector<Fault>& faults,
                                         Operation operation, std::uint64_t call_number) {
  std::optional<StatusCode> every_call;
  for (const Fault& fault : faults) {
    if (fault.operation != operation) continue;
    if (fault.call == call_number) return fault.status;
    if (fault.call == kEveryCall) every_call = fault.status;
  }
  return every_call;
}

}  // namespace sim
