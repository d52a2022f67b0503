// Runs the Windows program under Wine as a child process, the way a console
// user would: standard input a pseudo-terminal in raw mode (Wine's console
// reads it, so _getch gets single keys), standard output a pipe, standard
// error a file. Or, for the runs without a console, standard input /dev/null
// or a pipe. Waits for text with deadlines, never fixed sleeps.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wine_test {

using namespace std::chrono_literals;

enum class Input { kTerminal, kDevNull, kPipe };

class WineChild {
 public:
  // Starts `wine program` with the test's environment plus `extra_env`
  // ("NAME=value" each).
  WineChild(const std::string& program, Input input, const std::vector<std::string>& extra_env);
  ~WineChild();
  WineChild(const WineChild&) = delete;
  WineChild& operator=(const WineChild&) = delete;

  // Writes to the terminal or the pipe.
  void Send(std::string_view bytes);
  // Closes the terminal's or the pipe's writing side.
  void CloseInput();

  // Reads standard output until `text` occurs `count` times at or after
  // `from`; false if it has not by the deadline.
  bool WaitForOutput(std::string_view text, std::size_t count = 1, std::size_t from = 0,
                     std::chrono::milliseconds deadline = 20s);

  // Waits for the process to end, reading its output meanwhile; the wait
  // status, or -1 if it had not ended by the deadline (then it is killed).
  int Wait(std::chrono::milliseconds deadline = 20s);
  bool Running();

  // Standard output as written, "\r\n" line ends included.
  const std::string& Output() const { return out_; }
  // Standard error so far, read back from its file.
  std::string Error() const;

 private:
  // Reads what standard output has within `budget`.
  void Pump(std::chrono::milliseconds budget);
  void Kill();

  pid_t pid_ = -1;
  int input_fd_ = -1;  // the terminal's master side or the pipe's writing end
  int out_fd_ = -1;
  std::string error_path_;
  bool exited_ = false;
  int status_ = 0;
  std::string out_;
};

// Counts the occurrences of `text` in `haystack` at or after `from`.
std::size_t Count(std::string_view haystack, std::string_view text, std::size_t from = 0);

// Splits Windows text into lines at "\r\n". A "\n" without its "\r" before
// it stays in the line, so a wrong line end shows up in a comparison.
std::vector<std::string> CrlfLines(const std::string& text);

}  // namespace wine_test
