// The rest of the POSIX platform layer: the thread that runs beside the key
// loop, the boot's identity and a character device's numbers.
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform.h"

namespace platform {

bool StartDetachedThread(void (*routine)(void*)) {
  // The new thread blocks every signal (it inherits the mask), so that the
  // signal handlers (keys_signals.cpp) run on this thread, the one that
  // reads keys.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  bool started = true;
  try {
    std::thread(routine, nullptr).detach();
  } catch (const std::system_error&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

std::optional<std::string> BootIdentity() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  if (!std::getline(in, id) || id.empty()) return std::nullopt;
  return id;
}

std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISCHR(status.st_mode)) return std::nullopt;
  return std::pair{major(status.st_rdev), minor(status.st_rdev)};
}

AnyFunction LibraryFunction(const char* name) {
  void* found = dlsym(RTLD_DEFAULT, name);
  AnyFunction function = nullptr;
  static_assert(sizeof function == sizeof found);
  std::memcpy(&function, &found, sizeof function);
  return function;
}

}  // namespace platform
