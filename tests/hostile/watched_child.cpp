#include "watched_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace hostile {
namespace {

constexpr std::size_t kTailBytes = 4096;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::vector<std::string> WatchedOut() {
  return {std::string(kPrompt), std::string(kClosed), std::string(kFailedWrite),
          std::string(kNoCommunication), std::string(kPause)};
}

std::vector<std::string> WatchedErr() {
  std::vector<std::string> texts = {std::string(kReload), std::string(kDisable),
                                    std::string(kClose)};
  texts.insert(texts.end(), kSanitizerReports.begin(), kSanitizerReports.end());
  return texts;
}

// In the terminal's session leader, between fork and _exit: system calls only.
[[noreturn]] void LeadSession(char* const argv[], char* const envp[], int err_fd, int report_fd,
                              int release_fd) {
  signal(SIGTTOU, SIG_IGN);  // it hands the terminal's foreground over
  int sync[2];
  if (pipe(sync) != 0) _exit(126);
  const pid_t program = fork();
  if (program < 0) _exit(126);
  if (program == 0) {
    setpgid(0, 0);
    char go = 0;
    close(sync[1]);
    if (read(sync[0], &go, 1) != 1) _exit(126);
    signal(SIGTTOU, SIG_DFL);
    const rlimit no_core{0, 0};  // the quit character's core dump stays out of the tree
    setrlimit(RLIMIT_CORE, &no_core);
    dup2(err_fd, STDERR_FILENO);
    execve(argv[0], argv, envp);
    _exit(127);
  }
  close(err_fd);
  setpgid(program, program);
  tcsetpgrp(STDIN_FILENO, program);
  if (write(sync[1], "g", 1) != 1) _exit(126);
  for (;;) {
    int status = 0;
    if (waitpid(program, &status, WUNTRACED) != program) {
      if (errno == EINTR) continue;
      _exit(126);
    }
    if (write(report_fd, &status, sizeof status) != sizeof status) _exit(126);
    char go = 0;
    if (read(release_fd, &go, 1) != 1) _exit(0);
    if (!WIFSTOPPED(status)) _exit(0);
    kill(program, SIGCONT);
  }
}

}  // namespace

CountedStream::CountedStream(int fd_in, std::vector<std::string> texts) : fd(fd_in) {
  for (std::string& text : texts) {
    longest_ = std::max(longest_, text.size());
    counts_.emplace(std::move(text), 0);
  }
}

void CountedStream::Feed(std::string_view bytes) {
  bytes_ += bytes.size();
  const std::string joined = carry_ + std::string(bytes);
  for (auto& [text, count] : counts_) {
    // Only matches that end in the new bytes: the others were counted before.
    for (std::size_t at = joined.find(text); at != std::string::npos;
         at = joined.find(text, at + text.size())) {
      if (at + text.size() > carry_.size()) ++count;
    }
  }
  const std::size_t keep = longest_ > 0 ? longest_ - 1 : 0;
  carry_ = joined.substr(joined.size() - std::min(keep, joined.size()));
  tail_ += bytes;
  if (tail_.size() > kTailBytes) tail_.erase(0, tail_.size() - kTailBytes);
}

std::uint64_t CountedStream::Count(std::string_view text) const {
  const auto found = counts_.find(text);
  if (found == counts_.end()) throw std::logic_error("not a counted text: " + std::string(text));
  return found->second;
}

WatchedChild::WatchedChild(const std::string& program, Stdin input, Stdout output,
                           const std::vector<std::string>& extra_env)
    : out_(-1, WatchedOut()), err_(-1, WatchedErr()) {
  // The test's environment, with extra_env's names replaced.
  std::vector<std::string> env_strings = extra_env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    if (std::none_of(extra_env.begin(), extra_env.end(), [&](const std::string& extra) {
          return std::string_view(extra).substr(0, extra.find('=')) == name;
        })) {
      env_strings.emplace_back(entry);
    }
  }
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program_copy = program;
  char* argv[] = {program_copy.data(), nullptr};

  int err[2];
  Check(pipe2(err, O_CLOEXEC) == 0, "pipe");
  if (input == Stdin::kTerminal) {
    int report[2];
    int release[2];
    Check(pipe2(report, O_CLOEXEC) == 0 && pipe2(release, O_CLOEXEC) == 0, "pipe");
    pid_ = forkpty(&terminal_fd_, nullptr, nullptr, nullptr);
    Check(pid_ >= 0, "forkpty");
    if (pid_ == 0) {
      close(err[0]);
      close(report[0]);
      close(release[1]);
      LeadSession(argv, envp.data(), err[1], report[1], release[0]);
    }
    fcntl(terminal_fd_, F_SETFD, FD_CLOEXEC);
    close(report[1]);
    close(release[0]);
    report_fd_ = report[0];
    release_fd_ = release[1];
    input_fd_ = terminal_fd_;
    out_.fd = terminal_fd_;
  } else {
    int in[2];
    int out[2];
    Check(pipe2(in, O_CLOEXEC) == 0 && pipe2(out, O_CLOEXEC) == 0, "pipe");
    pid_ = fork();
    Check(pid_ >= 0, "fork");
    if (pid_ == 0) {
      dup2(in[0], STDIN_FILENO);
      if (output == Stdout::kPipe) {
        dup2(out[1], STDOUT_FILENO);
      } else {
        close(STDOUT_FILENO);
      }
      dup2(err[1], STDERR_FILENO);
      execve(argv[0], argv, envp.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_fd_ = in[1];
    if (output == Stdout::kPipe) {
      out_.fd = out[0];
    } else {
      close(out[0]);
    }
  }
  close(err[1]);
  err_.fd = err[0];
  fcntl(input_fd_, F_SETFL, fcntl(input_fd_, F_GETFL) | O_NONBLOCK);
}

WatchedChild::~WatchedChild() {
  if (!ended_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  } else if (terminal_fd_ >= 0 && pid_ > 0) {
    Release();
    waitpid(pid_, nullptr, 0);
  }
  for (const int fd : {input_fd_, report_fd_, release_fd_, err_.fd}) {
    if (fd >= 0) close(fd);
  }
  if (out_.fd >= 0 && out_.fd != terminal_fd_) close(out_.fd);
  if (terminal_fd_ >= 0 && terminal_fd_ != input_fd_) close(terminal_fd_);
}

bool WatchedChild::Pump(std::chrono::milliseconds budget) {
  pollfd fds[3] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}, {report_fd_, POLLIN, 0}};
  if (fds[0].fd < 0 && fds[1].fd < 0 && fds[2].fd < 0) return false;
  const int ready = poll(fds, 3, static_cast<int>(budget.count()));
  if (ready <= 0) return true;
  char buffer[65536];
  for (int i = 0; i < 3; ++i) {
    if (fds[i].revents == 0) continue;
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n > 0) {
      const std::string_view bytes(buffer, static_cast<std::size_t>(n));
      if (i == 0) out_.Feed(bytes);
      if (i == 1) err_.Feed(bytes);
      if (i == 2) reports_.append(bytes);
      continue;
    }
    // Closed (a terminal's other side answers EIO once no one holds it).
    if (i == 0) {
      if (out_.fd != terminal_fd_) close(out_.fd);
      out_.fd = -1;
    } else if (i == 1) {
      close(err_.fd);
      err_.fd = -1;
    } else {
      close(report_fd_);
      report_fd_ = -1;
    }
  }
  return true;
}

void WatchedChild::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(input_fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    Check(n < 0 && (errno == EAGAIN || errno == EINTR), "write to the program");
    // Input full: read output until the program has taken some.
    pollfd fds[3] = {{input_fd_, POLLOUT, 0}, {out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
    if (poll(fds, 3, 100) > 0 && (fds[1].revents != 0 || fds[2].revents != 0)) Pump(0ms);
  }
}

void WatchedChild::CloseInput() {
  if (input_fd_ >= 0 && input_fd_ != terminal_fd_) {
    close(input_fd_);
    input_fd_ = -1;
  }
}

void WatchedChild::CloseOutputReader() {
  if (out_.fd >= 0 && out_.fd != terminal_fd_) {
    close(out_.fd);
    out_.fd = -1;
  }
}

std::uint64_t WatchedChild::SanitizerReports() const {
  std::uint64_t reports = 0;
  for (const std::string& text : kSanitizerReports) reports += err_.Count(text);
  return reports;
}

std::string WatchedChild::Describe() const {
  return "\n--- end of standard output (" + std::to_string(out_.Bytes()) + " bytes) ---\n" +
         out_.Tail() + "\n--- end of standard error (" + std::to_string(err_.Bytes()) +
         " bytes) ---\n" + err_.Tail();
}

bool WatchedChild::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline,
                             std::chrono::milliseconds step) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Pump(std::min(left, step))) return done();
  }
  return true;
}

int WatchedChild::WaitStatus(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  if (terminal_fd_ >= 0) {
    if (!WaitUntil([&] { return reports_.size() >= sizeof(int); }, deadline)) return -1;
    int status = 0;
    std::memcpy(&status, reports_.data(), sizeof status);
    reports_.erase(0, sizeof status);
    if (!WIFSTOPPED(status)) ended_ = true;
    return status;
  }
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      while (Pump(0ms) && (out_.fd >= 0 || err_.fd >= 0)) {
        pollfd fds[2] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
        if (poll(fds, 2, 0) <= 0) break;
      }
      return status;
    }
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      ended_ = true;
      return -1;
    }
    Pump(5ms);
    if (out_.fd < 0 && err_.fd < 0) usleep(1000);
  }
}

void WatchedChild::Release() {
  if (release_fd_ >= 0 && write(release_fd_, "g", 1) != 1) {
    close(release_fd_);
    release_fd_ = -1;
  }
}

termios WatchedChild::TerminalSettings() const {
  termios settings{};
  Check(tcgetattr(terminal_fd_, &settings) == 0, "tcgetattr");
  return settings;
}

bool WatchedChild::WaitForRawRead(std::chrono::milliseconds deadline) {
  return WaitUntil([&] { return (TerminalSettings().c_lflag & ICANON) == 0; }, deadline, 1ms);
}

}  // namespace hostile
