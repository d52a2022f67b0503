// The little that the programs need from the operating system: one key,
// the pause, a detached thread, a sleep, whole-line output and the signals
// that ask for a clean stop. One file per platform implements it; CMake
// picks the file.
#pragma once

#include <optional>
#include <string_view>
#include <utility>

namespace platform {

// What ReadKey yields when no key can ever come (input closed, no console,
// a read error) or a clean stop was asked for: the quit key, so that the run
// disarms, closes and ends instead of reloading forever at full speed or
// leaving an armed watchdog unattended.
inline constexpr int kNoMoreKeys = 'q';

// Sets up the process once, before anything else runs: standard input,
// output and error are made sure to be open (on the null device where one
// was closed, so that no device opened later takes their place), and a
// broken standard output must not kill the program.
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
// broken output is ignored.
void WriteOut(std::string_view text);
void WriteErr(std::string_view text);

// The signals that ask a run to end cleanly: once one has arrived,
// StopRequested() holds and ReadKey and Pause return kNoMoreKeys at once, so
// the caller disarms and closes on its own road. Hang-up and termination
// always; the interrupt (Ctrl+C) too for a program that nobody watches. A
// signal that the process was started ignoring stays ignored.
enum class StopSignals { kHangUpAndTerminate, kAlsoInterrupt };
void CatchStopSignals(StopSignals which);
bool StopRequested();

// The major and minor numbers of the character device at path, found
// without opening it; nothing where the path is no character device or the
// platform has none.
std::optional<std::pair<unsigned, unsigned>> CharacterDevice(const char* path);

}  // namespace platform
