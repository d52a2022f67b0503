// Runs a program as a child process for end-to-end tests: standard input and
// output through a pipe or a pseudo-terminal, standard error through a pipe
// of its own, and waits with deadlines instead of fixed sleeps.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace test_support {

using namespace std::chrono_literals;

enum class Input { kPipe, kTerminal };

class ChildProcess {
 public:
  // Starts program with the test's environment plus `extra_env`
  // ("NAME=value" each).
  ChildProcess(const std::string& program, Input input, const std::vector<std::string>& extra_env);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Send(std::string_view bytes);
  void CloseInput();  // a pipe's end of input; a terminal's hang-up
  void Signal(int signal_number);

  // Reads output until `text` appears at or after `from` in the standard
  // output; false if it has not by the deadline.
  bool WaitForOutput(std::string_view text, std::size_t from = 0,
                     std::chrono::milliseconds deadline = 10s);
  bool WaitForError(std::string_view text, std::chrono::milliseconds deadline = 10s);

  // Waits for the process to end, reading its output meanwhile; the wait
  // status, or -1 if it had not ended by the deadline (then it is killed).
  int Wait(std::chrono::milliseconds deadline = 20s);

  // Standard output so far, with a terminal's "\r\n" turned into "\n".
  std::string Output() const;
  const std::string& Error() const { return err_; }
  int terminal_fd() const { return terminal_fd_; }
  pid_t pid() const { return pid_; }

 private:
  // Reads what is there within `budget`; false once both outputs are closed.
  bool Pump(std::chrono::milliseconds budget);

  pid_t pid_ = -1;
  int input_fd_ = -1;     // pipe mode
  int terminal_fd_ = -1;  // terminal mode: input and output
  int out_fd_ = -1;
  int err_fd_ = -1;
  bool exited_ = false;
  int status_ = 0;
  std::string out_;
  std::string err_;
};

// Splits text into lines, without their "\n".
std::vector<std::string> Lines(const std::string& text);

}  // namespace test_support
