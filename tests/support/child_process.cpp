#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace test_support {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, Input input,
                           const std::vector<std::string>& extra_env) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program_copy = program;
  char* argv[] = {program_copy.data(), nullptr};

  int err_pipe[2];
  Check(pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");
  if (input == Input::kTerminal) {
    pid_ = forkpty(&terminal_fd_, nullptr, nullptr, nullptr);
    Check(pid_ >= 0, "forkpty");
    if (pid_ == 0) {
      dup2(err_pipe[1], STDERR_FILENO);
      execve(argv[0], argv, envp.data());
      _exit(127);
    }
    fcntl(terminal_fd_, F_SETFD, FD_CLOEXEC);
    out_fd_ = terminal_fd_;
  } else {
    int in_pipe[2];
    int out_pipe[2];
    Check(pipe2(in_pipe, O_CLOEXEC) == 0 && pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
    pid_ = fork();
    Check(pid_ >= 0, "fork");
    if (pid_ == 0) {
      dup2(in_pipe[0], STDIN_FILENO);
      dup2(out_pipe[1], STDOUT_FILENO);
      dup2(err_pipe[1], STDERR_FILENO);
      execve(argv[0], argv, envp.data());
      _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    input_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
  }
  close(err_pipe[1]);
  err_fd_ = err_pipe[0];
}

ChildProcess::~ChildProcess() {
  if (!exited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {input_fd_, terminal_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
  if (out_fd_ >= 0 && out_fd_ != terminal_fd_) close(out_fd_);
}

void ChildProcess::Send(std::string_view bytes) {
  const int fd = terminal_fd_ >= 0 ? terminal_fd_ : input_fd_;
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    Check(n > 0, "write to child");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ChildProcess::CloseInput() {
  if (input_fd_ >= 0) {
    close(input_fd_);
    input_fd_ = -1;
  } else {
    Signal(SIGHUP);
  }
}

void ChildProcess::Signal(int signal_number) { kill(pid_, signal_number); }

bool ChildProcess::Pump(std::chrono::milliseconds budget) {
  pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (fds[0].fd < 0 && fds[1].fd < 0) return false;
  const int ready = poll(fds, 2, static_cast<int>(budget.count()));
  if (ready <= 0) return true;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0) continue;
    int& fd = i == 0 ? out_fd_ : err_fd_;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      // Closed (a terminal's other side answers EIO once the child is gone).
      if (fd != terminal_fd_) close(fd);
      fd = -1;
    }
  }
  return true;
}

bool ChildProcess::WaitForOutput(std::string_view text, std::size_t from,
                                 std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (Output().find(text, from) != std::string::npos) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Pump(std::min(left, 100ms))) {
      return Output().find(text, from) != std::string::npos;
    }
  }
}

bool ChildProcess::WaitForError(std::string_view text, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (err_.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Pump(std::min(left, 100ms))) return err_.find(text) != std::string::npos;
  }
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!exited_) {
    const pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) {
      exited_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
      return -1;
    }
    if (!Pump(10ms)) usleep(1000);
  }
  while (Pump(0ms) && (out_fd_ >= 0 || err_fd_ >= 0)) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (poll(fds, 2, 0) <= 0) break;
  }
  return status_;
}

std::string ChildProcess::Output() const {
  if (terminal_fd_ < 0) return out_;
  std::string text;
  text.reserve(out_.size());
  for (std::size_t i = 0; i < out_.size(); ++i) {
    if (out_[i] == '\r' && i + 1 < out_.size() && out_[i + 1] == '\n') continue;
    text += out_[i];
  }
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace test_support
