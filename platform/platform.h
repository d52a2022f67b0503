// The little that the program needs from the operating system: one key,
// the pause, a detached thread, a sleep and whole-line output. One file per
// platform implements it; CMake picks the file.
#pragma once

#include <string_view>

namespace platform {

// What ReadKey yields when no key can ever come (input closed, no console,
// a read error): the quit key, so that the run disarms, closes and ends
// instead of reloading forever at full speed or leaving an armed watchdog
// unattended.
inline constexpr int kNoMoreKeys = 'q';

// Sets up the process once, before anything else runs: a broken standard
// output must not kill the program.
void Prepare();

// One key code, without echo and without waiting for Enter; blocks until a
// key comes. Keys that the console delivers as several codes come as several
// reads.
int ReadKey();

// Prompts the operator and waits for one key, as the command interpreter's
// "pause" does. Returns at once when no key can ever come.
void Pause();

// Starts routine(nullptr) on a detached thread with the default stack size.
// A start that fails is ignored: the caller goes on without the thread.
void StartDetachedThread(void (*routine)(void*));

void SleepMs(unsigned milliseconds);

// Writes text to standard output whole, in one write, at once, so that two
// threads' lines do not break each other. A closed or broken output is
// ignored.
void WriteOut(std::string_view text);

}  // namespace platform
