#include "status_messages.h"

namespace wdt {

const char* StatusMessage(StatusCode status) {
  for (const auto& [code, message] : kStatusMessages) {
    if (code == status) return message;
  }
  return kUnknownStatusMessage;
}

}  // namespace wdt
