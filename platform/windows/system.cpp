// The rest of the Windows platform layer: the thread that runs beside the
// key loop, the boot's identity; there are no character devices.
#include <process.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform.h"

namespace platform {

bool StartDetachedThread(void (*routine)(void*)) {
  return _beginthread(routine, 0, nullptr) != static_cast<uintptr_t>(-1);
}

std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char*) { return std::nullopt; }

// The boot's time to the second: the wall clock less the time since the boot.
std::optional<std::string> BootIdentity() {
  const auto boot = std::chrono::system_clock::now() - std::chrono::milliseconds(GetTickCount64());
  return "booted at " + std::to_string(std::chrono::round<std::chrono::seconds>(boot.time_since_epoch()).count());
}

// Through void (*)(): GetProcAddress's FARPROC cast to it does not warn.
AnyFunction LibraryFunction(const char* name) {
  const HMODULE library = GetModuleHandleA("wdtDLL.dll");
  if (library == nullptr) return nullptr;
  return reinterpret_cast<AnyFunction>(GetProcAddress(library, name));
}

}  // namespace platform
