// Fuzz target over the WDT_SIM_FAULTS parser. The parser must never crash,
// must accept exactly the texts that the grammar allows (checked here by a
// second, deliberately plain reading of the grammar), an accepted list must
// inject exactly what it says, and a refusal shows printable bytes only.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fault_list.h"
#include "property.h"

namespace {

using fuzz::Digits;
using fuzz::Require;

// The grammar read a second way: the list it means, or nothing if refused.
std::optional<std::vector<sim::Fault>> Expected(std::string_view text) {
  std::vector<sim::Fault> faults;
  for (const std::string_view entry : fuzz::Entries(text)) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::string_view name = entry.substr(0, equals);
    std::string_view status = entry.substr(equals + 1);
    sim::Fault fault{};
    fault.call = sim::kEveryCall;
    if (const std::size_t hash = name.find('#'); hash != std::string_view::npos) {
      const auto call = Digits(name.substr(hash + 1), 0xFFFFFFFFu);
      if (!call || *call == 0) return std::nullopt;
      fault.call = *call;
      name = name.substr(0, hash);
    }
    bool known = false;
    for (std::size_t i = 0; i < sim::kOperationNames.size(); ++i) {
      if (sim::kOperationNames[i] == name) {
        fault.operation = static_cast<sim::Operation>(i);
        known = true;
      }
    }
    if (!known) return std::nullopt;
    const bool negative = !status.empty() && status.front() == '-';
    if (negative) status.remove_prefix(1);
    const auto magnitude = Digits(status, negative ? 2147483648u : 2147483647u);
    if (!magnitude) return std::nullopt;
    fault.status = static_cast<StatusCode>(negative ? -static_cast<std::int64_t>(*magnitude)
                                                    : static_cast<std::int64_t>(*magnitude));
    for (const sim::Fault& earlier : faults) {
      if (earlier.operation == fault.operation && earlier.call == fault.call) return std::nullopt;
    }
    faults.push_back(fault);
  }
  return faults;
}

// What the list says for one operation's call_number-th call.
std::optional<StatusCode> Meant(const std::vector<sim::Fault>& faults, sim::Operation operation,
                                std::uint64_t call_number) {
  std::optional<StatusCode> every;
  for (const sim::Fault& fault : faults) {
    if (fault.operation != operation) continue;
    if (fault.call == call_number) return fault.status;
    if (fault.call == sim::kEveryCall) every = fault.status;
  }
  return every;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sim::FaultList parsed = sim::ParseFaultList(text);
  const auto expected = Expected(text);

  if (!expected) {
    fuzz::RequireRefused(parsed.error, parsed.faults.empty());
    return 0;
  }
  Require(parsed.error.empty(), "refused a text that the grammar allows");
  Require(parsed.faults == *expected, "the parsed list differs from the text");

  // Every listed call, its neighbours, the first call and the last one.
  std::vector<std::uint64_t> calls = {1, 2, 0xFFFFFFFFu};
  for (const sim::Fault& fault : parsed.faults) {
    if (fault.call == sim::kEveryCall) continue;
    calls.insert(calls.end(), {fault.call - 1, fault.call, fault.call + 1});
  }
  for (std::size_t i = 0; i < sim::kOperationNames.size(); ++i) {
    const auto operation = static_cast<sim::Operation>(i);
    for (const std::uint64_t call : calls) {
      if (call == 0) continue;
      Require(sim::InjectedStatus(parsed.faults, operation, call) ==
                  Meant(*expected, operation, call),
              "an accepted list injects something other than it says");
    }
  }
  return 0;
}
