#include "fault_list.h"

#include <algorithm>
#include <limits>

#include "parse.h"
#include "printable.h"

namespace sim {
namespace {

std::optional<Operation> FindOperation(std::string_view name) {
  for (std::size_t i = 0; i < kOperationNames.size(); ++i) {
    if (kOperationNames[i] == name) return static_cast<Operation>(i);
  }
  return std::nullopt;
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
    const auto call = wdt::WholeNumber(target.substr(hash + 1), kFirstCall, kLastCall);
    if (!call) return "call number is not a whole number " + wdt::FromTo(kFirstCall, kLastCall);
    fault.call = *call;
    target = target.substr(0, hash);
  }
  const auto operation = FindOperation(target);
  if (!operation) return "unknown operation '" + wdt::Printable(target) + "'";
  fault.operation = *operation;

  const auto status = wdt::WholeNumber(status_text, std::numeric_limits<StatusCode>::min(),
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
  const std::vector<std::string_view> entries = wdt::SplitList(text);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Fault fault{};
    std::string why = ParseEntry(entries[i], fault);
    if (why.empty() && std::any_of(list.faults.begin(), list.faults.end(), [&](const Fault& f) {
          return f.operation == fault.operation && f.call == fault.call;
        })) {
      why = "the same operation and call are given twice";
    }
    if (!why.empty()) {
      list.faults.clear();
      list.error = "entry " + std::to_string(i + 1) + " '" + wdt::Printable(entries[i]) + "': " + why;
      return list;
    }
    list.faults.push_back(fault);
  }
  return list;
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
