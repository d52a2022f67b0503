// The six library operations, answering from the test's script.
#include <map>
#include <mutex>
#include <string>

#include "fake_state.h"
#include "fakes.h"

namespace fake {
namespace {

struct Script {
  std::map<std::string, std::map<int, StatusCode>, std::less<>> failures;
  std::map<std::string, int, std::less<>> calls;
  std::vector<std::uint32_t> read_values;
  std::size_t reads = 0;
  bool closed = false;
};

Script& TheScript() {
  static Script script;
  return script;
}

// Counts the call and returns its scripted status, logging it.
StatusCode Answer(std::string_view operation, const std::string& call) {
  std::lock_guard lock(StateMutex());
  Script& s = TheScript();
  const int nth = ++s.calls[std::string(operation)];
  StatusCode status = 0;
  if (const auto it = s.failures.find(operation); it != s.failures.end()) {
    if (const auto f = it->second.find(nth); f != it->second.end()) {
      status = f->second;
    } else if (const auto every = it->second.find(0); every != it->second.end()) {
      status = every->second;
    }
  }
  LogLocked(call + " -> " + std::to_string(status));
  return status;
}

}  // namespace

void ResetLibrary() { TheScript() = Script{}; }

void FailCall(std::string_view operation, int nth, StatusCode status) {
  std::lock_guard lock(StateMutex());
  TheScript().failures[std::string(operation)][nth] = status;
}

void SetReadValues(std::vector<std::uint32_t> values) {
  std::lock_guard lock(StateMutex());
  TheScript().read_values = std::move(values);
}

}  // namespace fake

extern "C" {

StatusCode InitializeSession(void) { return fake::Answer("InitializeSession", "InitializeSession()"); }

StatusCode EnableTimer(uint32_t timeout, int32_t min_sec) {
  return fake::Answer("EnableTimer",
                      "EnableTimer(" + std::to_string(timeout) + ", " + std::to_string(min_sec) + ")");
}

StatusCode DisableTimer(void) { return fake::Answer("DisableTimer", "DisableTimer()"); }

StatusCode WriteTimerValue(uint32_t value) {
  return fake::Answer("WriteTimerValue", "WriteTimerValue(" + std::to_string(value) + ")");
}

StatusCode ReadTimerValue(uint32_t* value) {
  // Like a real library, a read after the close finds no session.
  bool closed = false;
  {
    std::lock_guard lock(fake::StateMutex());
    closed = fake::TheScript().closed;
  }
  if (closed) fake::FailCall("ReadTimerValue", 0, 2);
  const StatusCode status = fake::Answer("ReadTimerValue", "ReadTimerValue()");
  std::lock_guard lock(fake::StateMutex());
  fake::NoteTimerReaderLocked();
  fake::Script& s = fake::TheScript();
  if (status == 0 && !s.read_values.empty()) {
    *value = s.read_values[std::min(s.reads, s.read_values.size() - 1)];
    ++s.reads;
  }
  return status;
}

StatusCode CloseSession(void) {
  const StatusCode status = fake::Answer("CloseSession", "CloseSession()");
  std::lock_guard lock(fake::StateMutex());
  if (status == 0) fake::TheScript().closed = true;
  return status;
}

}  // extern "C"
