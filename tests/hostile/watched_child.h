// Runs the program as a child for the hostile-input and soak tests, without
// keeping its output: each output stream is counted (how often each of a few
// texts appeared) and only its last bytes are kept, so a run may print
// hundreds of megabytes. Waits use deadlines, never fixed sleeps.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace hostile {

using namespace std::chrono_literals;

inline constexpr std::string_view kPrompt =
    "Press key to reset timer to 30 seconds. Press q to close WDT and quit application.";
inline constexpr std::string_view kClosed = "WDT closed. Exiting";
inline constexpr std::string_view kFailedWrite = "Failed to write time to driver";
inline constexpr std::string_view kNoCommunication = "Failed to communicate with driver";
inline constexpr std::string_view kPause = "Press any key to continue . . . ";
inline constexpr std::string_view kReload = "WriteTimerValue(30) -> 0\n";
inline constexpr std::string_view kDisable = "DisableTimer() -> 0\n";
inline constexpr std::string_view kClose = "CloseSession() -> 0\n";
// The beginnings of every sanitizer's report.
inline const std::vector<std::string> kSanitizerReports = {"ThreadSanitizer", "AddressSanitizer",
                                                           "LeakSanitizer", "runtime error:"};

// One output stream of the child: how often each text appeared in it.
class CountedStream {
 public:
  CountedStream(int fd, std::vector<std::string> texts);
  void Feed(std::string_view bytes);
  std::uint64_t Count(std::string_view text) const;
  std::uint64_t Bytes() const { return bytes_; }
  const std::string& Tail() const { return tail_; }  // the last few KiB
  int fd = -1;

 private:
  std::map<std::string, std::uint64_t, std::less<>> counts_;
  std::size_t longest_ = 0;
  std::string carry_;  // end of the previous chunk, for texts split across reads
  std::string tail_;
  std::uint64_t bytes_ = 0;
};

enum class Stdout { kPipe, kClosed };
enum class Stdin { kPipe, kTerminal };

class WatchedChild {
 public:
  // Through a pipe (or a closed standard output) the program is the child
  // itself. Through a terminal a small session leader stands between: it puts
  // the program in a process group of its own in the terminal's foreground,
  // as a shell does (so the terminal's suspend character can stop it), and
  // reports every stop and the end over a pipe, then waits for Release().
  WatchedChild(const std::string& program, Stdin input, Stdout output,
               const std::vector<std::string>& extra_env);  // "NAME=value", replacing
  ~WatchedChild();
  WatchedChild(const WatchedChild&) = delete;
  WatchedChild& operator=(const WatchedChild&) = delete;

  // Writes all of bytes, reading the outputs meanwhile.
  void Send(std::string_view bytes);
  void CloseInput();
  void CloseOutputReader();  // the reader of standard output goes away

  std::uint64_t Out(std::string_view text) const { return out_.Count(text); }
  std::uint64_t Err(std::string_view text) const { return err_.Count(text); }
  std::uint64_t SanitizerReports() const;
  std::string Describe() const;  // the outputs' tails, for failure messages

  // Reads output until `done` holds; false if it does not by the deadline.
  // `step` bounds each wait for output, for conditions that output does not
  // signal.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = 10s,
                 std::chrono::milliseconds step = 50ms);

  // Through a pipe: waits for the end; the wait status, or -1 (then killed).
  // Through a terminal: the next wait status that the session leader
  // reports (a stop or the end), or -1.
  int WaitStatus(std::chrono::milliseconds deadline = 20s);
  // Terminal only: lets the session leader go on after a report (a stopped
  // program is continued, an ended one lets the terminal close).
  void Release();
  // Terminal only: the terminal's settings as the program left them (on
  // Linux the terminal's other side reads the program's side's settings).
  termios TerminalSettings() const;
  // Terminal only: waits until the program's read has the terminal in
  // non-canonical mode, so a byte sent now reaches that read as it is.
  bool WaitForRawRead(std::chrono::milliseconds deadline = 10s);

 private:
  bool Pump(std::chrono::milliseconds budget);  // false once nothing is open

  pid_t pid_ = -1;
  int input_fd_ = -1;
  int terminal_fd_ = -1;
  int report_fd_ = -1;
  int release_fd_ = -1;
  bool ended_ = false;
  std::string reports_;  // raw wait statuses from the session leader
  CountedStream out_;
  CountedStream err_;
};

}  // namespace hostile
