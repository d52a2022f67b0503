// The little that the programs need from the operating system: one key,
// the pause, a detached thread, a sleep, whole-line output that never waits
// on a blocked reader, and the signals that ask for a clean stop. A set of
// files per platform implements it, each named for its service (posix/,
// windows/; CMake picks the set), beside the portable ones (pause.cpp,
// durable_file.cpp, kernel_log_record.cpp).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "operations.h"

namespace platform {

// What ReadKey yields when no key can ever come (input closed, no console,
// a read error) or a clean stop was asked for: the quit key, so that the run
// disarms, closes and ends instead of reloading forever at full speed or
// leaving an armed watchdog unattended.
inline constexpr int kNoMoreKeys = 'q';

// Sets up the process once, before anything else runs: standard input,
// output and error are made sure to be open (on the null device where one
// was closed, so that no device opened later takes their place), a broken
// standard output must not kill the program, and the outputs are made ready
// for writes that do not wait (see WriteOut).
void Prepare();

// One key code, without echo and without waiting for Enter; blocks until a
// key comes. Keys that the console delivers as several codes come as several
// reads. Returns kNoMoreKeys at once once StopRequested().
int ReadKey();

// Prompts the operator and waits for one key, as the command interpreter's
// "pause" does. Returns at once when no key can ever come or a stop was
// asked for.
void Pause();

// Starts routine(nullptr) on a detached thread with the default stack size;
// false if it could not be started.
bool StartDetachedThread(void (*routine)(void*));

void SleepMs(unsigned milliseconds);

// Writes text to standard output (standard error) whole, in one write, at
// once, so that two threads' lines do not break each other. A closed or
// broken output is ignored. An output that cannot take the text now (a
// terminal stopped with Ctrl+S, a full pipe whose reader does not read) does
// not hold the caller: the text is kept, in order, and goes out with the next
// write. Only when much is kept does a write wait for a reader that is
// merely slow, a second at most and never after a stop signal; an output
// stuck that long has what does not fit dropped, with a note, until it moves
// again.
void WriteOut(std::string_view text);
void WriteErr(std::string_view text);

// At the end of a run, with the watchdog disarmed: waits until the text kept
// so far is written, but returns at once once a stop signal has come (what
// is left is dropped).
void FinishOutput();

// The signals that ask a run to end cleanly: once one has arrived,
// StopRequested() holds and ReadKey and Pause return kNoMoreKeys at once, so
// the caller disarms and closes on its own road. Hang-up and termination
// always; the interrupt (Ctrl+C) too for a program that nobody watches; and
// for one that must never be suspended with the watchdog armed, the requests
// to suspend (Ctrl+Z's SIGTSTP, SIGTTIN, SIGTTOU), whose suspension is held
// back until SuspendIfRequested(). A signal that the process was started
// ignoring stays ignored.
enum class StopSignals { kHangUpAndTerminate, kAlsoInterrupt, kAlsoInterruptAndSuspend };
void CatchStopSignals(StopSignals which);
bool StopRequested();

// The major and minor numbers of the character device at path, found
// without opening it; nothing where the path is no character device or the
// platform has none.
std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char* path);
// The request to suspend that was held back ("SIGTSTP"), or empty.
std::string_view HeldSuspension();
// Once the watchdog is disarmed and closed: suspends the process as the held
// request would have, returning once it is continued (fg); from now on such
// a request suspends at once.
void SuspendIfRequested();

// The file system calls under the durable writes (durable_file.h), which
// replace a file whole or write a part of it in place (a record that must
// survive a reset at any instant). Each returns what the system call returns
// (a descriptor, a count, 0) or the negated errno.
inline constexpr int kNoFile = 0;
inline constexpr int kRegularFile = 1;
inline constexpr int kOtherFile = 2;  // a folder, a device, a link: never written
struct FileCalls {
  int (*kind)(const char* path);  // kNoFile, kRegularFile or kOtherFile
  // A new file in `folder` that no one else has opened; its path in *path.
  int (*create_temp)(const char* folder, std::string* path);
  long (*write)(int fd, const char* data, std::size_t size);
  int (*sync)(int fd);  // its data on the disk
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);  // over an existing file, at once
  int (*remove)(const char* path);
  int (*sync_folder)(const char* folder);  // the folder's entries on the disk
  // A beat written in place into a record already there: the file opened
  // for writing (never through a link, never waiting on a reader), bytes
  // written at an offset, and its data on the disk.
  int (*open_existing)(const char* path);
  long (*write_at)(int fd, const char* data, std::size_t size, std::size_t offset);
  int (*sync_data)(int fd);
};
FileCalls DurableFileCalls();

// What tells this boot from the next: Linux's boot_id, or the boot's time to
// the second; nothing where neither can be found.
std::optional<std::string> BootIdentity();

// The linked watchdog library's operations: its six, and those of its
// optional ones (wdtDLL.h) that it exports, looked up by name at run time;
// each optional one null where the library lacks it (a vendor's library has
// only its six). Compiled into the programs alone, which link the library
// (library_operations.cpp); the platform library does not link it.
wdt::Operations LibraryOperations();
// A function that the linked library exports under `name`, looked up at run
// time (dlsym, GetProcAddress); null where it has none.
using AnyFunction = void (*)();
AnyFunction LibraryFunction(const char* name);

// The kernel's log from now on, read and never written: empty, or why it
// cannot be read. Then, without waiting: when the kernel logged `message`
// since, on the clock of std::chrono::steady_clock, if it did. Linux's
// /dev/kmsg, whose records carry the kernel's monotonic time.
std::string WatchKernelLog();
std::optional<std::chrono::steady_clock::time_point> KernelLogged(std::string_view message);

}  // namespace platform
