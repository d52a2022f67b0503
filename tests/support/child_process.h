// Runs a program as a child process for the tests that run the built program:
// standard input a pipe, /dev/null or a pseudo-terminal, standard output and
// error through pipes (or output through the terminal), read while the test
// waits for text with deadlines, never fixed sleeps. Each child runs in a
// session of its own.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

using namespace std::chrono_literals;

enum class Input {
  kPipe,
  kDevNull,
  // A pseudo-terminal as the controlling terminal, for input and output.
  kTerminal,
  // A pseudo-terminal in raw mode for input only, not the controlling
  // terminal; output through a pipe.
  kRawTerminal,
  kClosed,  // no standard input at all
};

struct Options {
  Input input = Input::kPipe;
  std::vector<std::string> env{};  // "NAME=value" each, replacing the test's own
  bool close_output = false;     // standard output closed (not with kTerminal)
  bool close_error = false;      // standard error closed
  bool nonblocking_input = false;  // standard input left non-blocking (O_NONBLOCK)
  // kTerminal: a small session leader stands between. It puts the program in
  // a process group of its own in the terminal's foreground, as a shell does
  // (so the terminal's suspend character can stop it), reports every stop and
  // the end to Wait(), and after each waits for Release().
  bool job_control = false;
  // Texts counted in both outputs as they stream past, for OutCount/ErrCount.
  std::vector<std::string> counted{};
  // How many bytes of each output are kept (their end): a run may print
  // hundreds of megabytes.
  std::size_t keep = std::numeric_limits<std::size_t>::max();
  // With job_control: the program is started in the background (the
  // terminal's foreground stays the leader's), with SIGTTOU ignored as some
  // shells leave it.
  bool background = false;
  // Standard output a pipe that is full from the start and never read, as
  // when its reader stopped reading (not with kTerminal).
  bool full_output = false;
};

class ChildProcess {
 public:
  // command: the program and its arguments.
  ChildProcess(std::vector<std::string> command, Options options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Writes all of bytes, reading the outputs while the input is full.
  void Send(std::string_view bytes);
  // Closes the input's writing side: a pipe's end, a raw terminal's hang-up.
  void CloseInput();
  void CloseOutputReader();  // the reader of standard output goes away
  // kTerminal: the terminal goes away (its other side closes), as when an
  // ssh connection drops; standard output can no longer be read.
  void HangUp();
  // To the program; with job control, to the terminal's foreground process
  // group, the program's.
  void Signal(int signal_number);
  pid_t Pid() const { return pid_; }

  // Reads output until `done` holds; false if it does not by the deadline.
  // `step` bounds each wait for output, for conditions that output does not
  // signal.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline = 20s,
                 std::chrono::milliseconds step = 50ms);
  // Does `act` (sends a signal or a key) again and again, half a second
  // apart, until `done`; false if it does not hold after eight: under
  // ThreadSanitizer and load a process-directed signal now and then never
  // reaches the handler (its runtime defers it and drops it).
  bool RepeatUntil(const std::function<void()>& act, const std::function<bool()>& done);
  // Until `text` occurs `count` times in standard output at or after `from`.
  bool WaitForOutput(std::string_view text, std::size_t count = 1, std::size_t from = 0,
                     std::chrono::milliseconds deadline = 20s);

  // Waits for the process to end, reading its output meanwhile; the wait
  // status, or -1 if it had not ended by the deadline (then it is killed).
  // With job control: the next stop or end that the session leader reports.
  int Wait(std::chrono::milliseconds deadline = 20s);
  bool Running();
  // Job control: lets the session leader go on after a report (a stopped
  // program is continued, an ended one lets the terminal close).
  void Release();

  // The terminal's settings as the program left them (on Linux the
  // terminal's other side reads the program's side's settings).
  termios TerminalSettings() const;
  // Until the terminal has neither line editing nor echo, as for a read of
  // single keys.
  bool WaitForRawTerminal(std::chrono::milliseconds deadline = 10s);

  // Standard output so far, with a terminal's "\r\n" turned into "\n".
  std::string Output() const;
  const std::string& Error() const { return err_.text; }
  std::uint64_t OutCount(std::string_view text) const { return out_.Count(text); }
  std::uint64_t ErrCount(std::string_view text) const { return err_.Count(text); }
  std::string Describe() const;  // the outputs' ends, for failure messages

 private:
  struct Stream {
    int fd = -1;
    std::string text;
    std::uint64_t bytes = 0;
    std::map<std::string, std::uint64_t, std::less<>> counts;
    std::string carry;  // end of the previous chunk, for texts split across reads
    void Feed(std::string_view chunk, std::size_t keep);
    std::uint64_t Count(std::string_view counted) const;
  };

  // Reads what the outputs have within `budget`: how many were ready, or -1
  // once none is open.
  int Pump(std::chrono::milliseconds budget);
  void Kill();

  Options options_;
  pid_t pid_ = -1;
  int input_fd_ = -1;
  int terminal_fd_ = -1;  // the terminal's master side
  int release_fd_ = -1;
  int full_output_fd_ = -1;  // full_output: the reading side, never read
  bool exited_ = false;
  int status_ = 0;
  Stream out_;
  Stream err_;
  Stream reports_;  // raw wait statuses from the session leader
};

// Counts the occurrences of `text` in `haystack` at or after `from`.
std::size_t Count(std::string_view haystack, std::string_view text, std::size_t from = 0);

// Splits text into lines at `end`. With "\r\n", a "\n" without its "\r"
// stays in the line, so a wrong line end shows up in a comparison.
std::vector<std::string> Lines(const std::string& text, std::string_view end = "\n");

}  // namespace test_support
