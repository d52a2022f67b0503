// What the fake platform and the simulated library share: one lock over the
// event log.
#pragma once

#include <mutex>
#include <string>

namespace fake {

std::mutex& StateMutex();
void LogLocked(std::string event);  // with StateMutex held
void ResetLibrary();                // with StateMutex held
void NoteTimerReaderLocked();       // the calling thread reads the timer: the monitor

}  // namespace fake
