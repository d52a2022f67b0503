// What the program prints for a failed library call's StatusCode.
#pragma once

#include <iterator>
#include <utility>

#include "status_codes.h"
#include "wdtDLL.h"

namespace wdt {

// The codes the program knows; every other value, negative ones included,
// prints kUnknownStatusMessage.
inline constexpr std::pair<StatusCode, const char*> kStatusMessages[] = {
    {kNoCommunication, "Failed to communicate with driver\n"},
    {kNoHandle, "Failed to obtain handle to driver\n"},
    {kBadParameter, "Bad parameter\n"},
};
inline constexpr std::size_t kStatusMessageCount = std::size(kStatusMessages);

inline constexpr const char* kUnknownStatusMessage = "Unkown error!\n";

const char* StatusMessage(StatusCode status);

}  // namespace wdt
