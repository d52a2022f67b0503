// Windows implementation of the platform layer: the console's own _getch,
// the command interpreter's "pause", _beginthread and Sleep.
#include <conio.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>

#include "platform.h"

namespace platform {
namespace {

// _getch hands Ctrl+C over as a key code; the operator means to interrupt.
// (Wine's console swallows it: there the key neither comes nor interrupts.)
constexpr int kCtrlC = 3;
// What _getch returns when no key can ever come: the process has no console
// (standard input a pipe, a file or NUL makes no difference, _getch reads
// the console alone) or the console went away. msvcrt.dll answers EOF,
// as Wine's does (seen with no console and after a terminal hang-up); the
// universal CRT's wide read fails with WEOF, 0xFFFF. No key has either code.
constexpr int kGetchFailed = EOF;
constexpr int kGetchFailedWide = 0xFFFF;

// Set by the stop signals' handler, which the runtime may run on a thread of
// its own (the console's Ctrl+C).
volatile std::sig_atomic_t g_stop_requested = 0;

extern "C" void OnStopSignal(int signal_number) {
  g_stop_requested = 1;
  std::signal(signal_number, OnStopSignal);  // the runtime resets it before the call
}

void WriteAll(FILE* stream, std::string_view text) {
  // One _write per line: the runtime holds the handle's lock for the whole
  // call, so the two threads' lines do not break each other. In text mode it
  // writes each "\n" as "\r\n", as the console expects.
  const int fd = _fileno(stream);
  if (fd < 0 || text.empty()) return;  // no such output at all
  _write(fd, text.data(), static_cast<unsigned>(text.size()));
}

}  // namespace

void Prepare() {}

int ReadKey() {
  if (g_stop_requested) return kNoMoreKeys;
  const int key = _getch();
  if (key == kCtrlC) std::raise(SIGINT);
  if (key == kGetchFailed || key == kGetchFailedWide) return kNoMoreKeys;
  return key;
}

void Pause() { std::system("pause"); }

bool StartDetachedThread(void (*routine)(void*)) {
  return _beginthread(routine, 0, nullptr) != static_cast<uintptr_t>(-1);
}

void SleepMs(unsigned milliseconds) {
#ifdef WDT_INSTANT_SLEEP
  // Test build: every sleep returns at once, so a run takes milliseconds.
  (void)milliseconds;
#else
  Sleep(milliseconds);
#endif
}

void WriteOut(std::string_view text) { WriteAll(stdout, text); }

void WriteErr(std::string_view text) { WriteAll(stderr, text); }

// The console's close and log-off events are not caught: on Windows a run
// ends on them as it always has.
void CatchStopSignals(StopSignals which) {
  std::signal(SIGTERM, OnStopSignal);
  if (which == StopSignals::kAlsoInterrupt) {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGBREAK, OnStopSignal);
  }
}

bool StopRequested() { return g_stop_requested != 0; }

std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char*) { return std::nullopt; }

namespace {

int FileKind(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kNoFile : -EACCES;
  }
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0
             ? kOtherFile
             : kRegularFile;
}

int CreateTemp(const char* folder, std::string* path) {
  char name[MAX_PATH];
  if (GetTempFileNameA(folder, "wdt", 0, name) == 0) return -EACCES;  // creates it, empty
  const int fd = _open(name, _O_WRONLY | _O_BINARY | _O_TRUNC);
  if (fd < 0) {
    const int error = errno;
    DeleteFileA(name);
    return -error;
  }
  *path = name;
  return fd;
}

long WriteBytes(int fd, const char* data, std::size_t size) {
  const int written = _write(fd, data, static_cast<unsigned>(size));
  return written < 0 ? -errno : written;
}

int Result(int result) { return result < 0 ? -errno : 0; }
int SyncFile(int fd) { return Result(_commit(fd)); }
int CloseFile(int fd) { return Result(_close(fd)); }
// Write-through: the move is on the disk when the call returns.
int RenameFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -EACCES;
}
int RemoveFile(const char* path) { return DeleteFileA(path) ? 0 : -ENOENT; }
int SyncFolder(const char*) { return 0; }  // the write-through move covers it

}  // namespace

FileCalls DurableFileCalls() {
  return {FileKind, CreateTemp, WriteBytes, SyncFile, CloseFile, RenameFile, RemoveFile, SyncFolder};
}

// The boot's time to the second: the wall clock less the time since the boot.
std::optional<std::string> BootIdentity() {
  const auto boot = std::chrono::system_clock::now() - std::chrono::milliseconds(GetTickCount64());
  return "booted at " + std::to_string(std::chrono::round<std::chrono::seconds>(boot.time_since_epoch()).count());
}

}  // namespace platform
