#include "wine_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace wine_test {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::string MakeErrorPath() {
  std::string path = std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") +
                     "/wine-stderr-XXXXXX";
  const int fd = mkstemp(path.data());
  Check(fd >= 0, "mkstemp");
  close(fd);
  return path;
}

}  // namespace

WineChild::WineChild(const std::string& program, Input input,
                     const std::vector<std::string>& extra_env)
    : error_path_(MakeErrorPath()) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string wine = WDT_WINE_COMMAND;
  std::string program_copy = program;
  char* argv[] = {wine.data(), program_copy.data(), nullptr};

  // Every descriptor is opened before the fork: the child only rearranges.
  int child_in = -1;
  if (input == Input::kTerminal) {
    int terminal = -1;
    Check(openpty(&input_fd_, &terminal, nullptr, nullptr, nullptr) == 0, "openpty");
    termios raw{};
    Check(tcgetattr(terminal, &raw) == 0, "tcgetattr");
    cfmakeraw(&raw);
    Check(tcsetattr(terminal, TCSANOW, &raw) == 0, "tcsetattr");
    child_in = terminal;
  } else if (input == Input::kPipe) {
    int in_pipe[2];
    Check(pipe2(in_pipe, O_CLOEXEC) == 0, "pipe");
    child_in = in_pipe[0];
    input_fd_ = in_pipe[1];
  } else {
    child_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    Check(child_in >= 0, "open /dev/null");
  }
  if (input_fd_ >= 0) fcntl(input_fd_, F_SETFD, FD_CLOEXEC);
  int out_pipe[2];
  Check(pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
  const int err_fd = open(error_path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  Check(err_fd >= 0, "open the standard error file");

  pid_ = fork();
  Check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    // A session of its own: no controlling terminal, and one process group
    // that holds every process the run starts (cmd.exe for the pause too).
    setsid();
    dup2(child_in, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  close(child_in);
  close(out_pipe[1]);
  close(err_fd);
  out_fd_ = out_pipe[0];
}

WineChild::~WineChild() {
  if (!exited_) Kill();
  if (input_fd_ >= 0) close(input_fd_);
  if (out_fd_ >= 0) close(out_fd_);
  unlink(error_path_.c_str());
}

void WineChild::Kill() {
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  exited_ = true;
}

void WineChild::Send(std::string_view bytes) {
  Check(input_fd_ >= 0, "no input to write to");
  while (!bytes.empty()) {
    const ssize_t n = write(input_fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    Check(n > 0, "write to the child");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void WineChild::CloseInput() {
  if (input_fd_ >= 0) close(input_fd_);
  input_fd_ = -1;
}

void WineChild::Pump(std::chrono::milliseconds budget) {
  if (out_fd_ < 0) return;
  pollfd fd{out_fd_, POLLIN, 0};
  if (poll(&fd, 1, static_cast<int>(budget.count())) <= 0) return;
  char buffer[65536];
  const ssize_t n = read(out_fd_, buffer, sizeof buffer);
  if (n > 0) {
    out_.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close(out_fd_);
    out_fd_ = -1;
  }
}

bool WineChild::WaitForOutput(std::string_view text, std::size_t count, std::size_t from,
                              std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (Count(out_, text, from) >= count) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (out_fd_ < 0) {
      // Output closed: nothing more can come.
      return false;
    }
    Pump(std::min(left, std::chrono::milliseconds(100)));
  }
}

bool WineChild::Running() {
  if (exited_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
  return !exited_;
}

int WineChild::Wait(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= end) {
      Kill();
      return -1;
    }
    if (out_fd_ >= 0) {
      Pump(10ms);
    } else {
      poll(nullptr, 0, 10);
    }
  }
  // What the program wrote before it ended; a process that it left behind
  // may hold the pipe open, so no wait for its end.
  for (pollfd fd{out_fd_, POLLIN, 0}; out_fd_ >= 0 && poll(&fd, 1, 0) > 0; fd.fd = out_fd_) {
    Pump(0ms);
  }
  return status_;
}

std::string WineChild::Error() const {
  std::ifstream file(error_path_, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::size_t Count(std::string_view haystack, std::string_view text, std::size_t from) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(text, from); at != std::string_view::npos;
       at = haystack.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> CrlfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace wine_test
