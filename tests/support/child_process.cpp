#include "child_process.h"

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
#include <set>
#include <stdexcept>

extern char** environ;

namespace test_support {
namespace {

constexpr std::size_t kDescribedBytes = 4096;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// The job-control session leader, between fork and _exit: system calls only.
[[noreturn]] void LeadSession(char* const argv[], char* const envp[], int report_fd,
                              int release_fd, bool background) {
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
    if (!background) signal(SIGTTOU, SIG_DFL);
    const rlimit no_core{0, 0};  // the quit character's core dump stays out of the tree
    setrlimit(RLIMIT_CORE, &no_core);
    execve(argv[0], argv, envp);
    _exit(127);
  }
  setpgid(program, program);
  if (!background) tcsetpgrp(STDIN_FILENO, program);
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

std::string Tail(const std::string& text) {
  return text.substr(text.size() - std::min(text.size(), kDescribedBytes));
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> command, Options options)
    : options_(std::move(options)) {
  for (const std::string& text : options_.counted) {
    out_.counts.emplace(text, 0);
    err_.counts.emplace(text, 0);
  }
  // The test's environment, with the options' names replaced.
  std::vector<std::string> env = options_.env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('=') + 1);
    if (std::none_of(options_.env.begin(), options_.env.end(),
                     [&](const std::string& replaced) { return replaced.rfind(name, 0) == 0; })) {
      env.emplace_back(entry);
    }
  }
  std::vector<char*> envp;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& s : command) argv.push_back(s.data());
  argv.push_back(nullptr);

  // Every descriptor is opened before the fork: the child only rearranges.
  const bool terminal = options_.input == Input::kTerminal;
  int err[2], out[2] = {-1, -1}, report[2] = {-1, -1}, release[2] = {-1, -1};
  Check(pipe2(err, O_CLOEXEC) == 0, "pipe");
  if (!terminal) Check(pipe2(out, O_CLOEXEC) == 0, "pipe");
  if (options_.full_output) {
    // Filled without blocking, then made blocking again, as a shell leaves it.
    fcntl(out[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    while (write(out[1], filler.data(), filler.size()) > 0) {
    }
    fcntl(out[1], F_SETFL, 0);
    full_output_fd_ = out[0];
    out[0] = -1;
  }
  if (options_.job_control) {
    Check(pipe2(report, O_CLOEXEC) == 0 && pipe2(release, O_CLOEXEC) == 0, "pipe");
  }
  int child_in = -1;
  if (options_.input == Input::kRawTerminal) {
    Check(openpty(&terminal_fd_, &child_in, nullptr, nullptr, nullptr) == 0, "openpty");
    fcntl(terminal_fd_, F_SETFD, FD_CLOEXEC);  // else the child holds it: no hang-up
    termios raw{};
    Check(tcgetattr(child_in, &raw) == 0, "tcgetattr");
    cfmakeraw(&raw);
    Check(tcsetattr(child_in, TCSANOW, &raw) == 0, "tcsetattr");
    input_fd_ = terminal_fd_;
  } else if (options_.input == Input::kPipe) {
    int in[2];
    Check(pipe2(in, O_CLOEXEC) == 0, "pipe");
    child_in = in[0];
    input_fd_ = in[1];
  } else if (options_.input == Input::kDevNull) {
    child_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    Check(child_in >= 0, "open /dev/null");
  }

  pid_ = terminal ? forkpty(&terminal_fd_, nullptr, nullptr, nullptr) : fork();
  Check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    if (!terminal) {
      setsid();  // forkpty's child has a session of its own already
      if (child_in >= 0) {
        dup2(child_in, STDIN_FILENO);
      } else {
        close(STDIN_FILENO);
      }
      if (options_.close_output) {
        close(STDOUT_FILENO);
      } else {
        dup2(out[1], STDOUT_FILENO);
      }
    }
    if (options_.close_error) {
      close(STDERR_FILENO);
    } else {
      dup2(err[1], STDERR_FILENO);
    }
    if (options_.nonblocking_input) fcntl(STDIN_FILENO, F_SETFL, O_NONBLOCK);
    if (options_.job_control) {
      close(release[1]);
      LeadSession(argv.data(), envp.data(), report[1], release[0], options_.background);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  for (const int fd : {child_in, err[1], out[1], report[1], release[0]}) {
    if (fd >= 0) close(fd);
  }
  if (terminal) {
    fcntl(terminal_fd_, F_SETFD, FD_CLOEXEC);
    input_fd_ = out[0] = terminal_fd_;
  } else if (options_.close_output) {
    close(out[0]);
    out[0] = -1;
  }
  if (options_.close_error) {
    close(err[0]);
    err[0] = -1;
  }
  out_.fd = out[0];
  err_.fd = err[0];
  reports_.fd = report[0];
  release_fd_ = release[1];
  if (input_fd_ >= 0) fcntl(input_fd_, F_SETFL, fcntl(input_fd_, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (!exited_) Kill();
  for (const int fd : std::set<int>{input_fd_, terminal_fd_, release_fd_, full_output_fd_, out_.fd,
                                    err_.fd, reports_.fd}) {
    if (fd >= 0) close(fd);
  }
}

void ChildProcess::Kill() {
  // The whole session's group: what the program started goes too. Before
  // its setsid the child is not in a group of its own yet.
  if (kill(-pid_, SIGKILL) != 0) kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  exited_ = true;
}

void ChildProcess::Send(std::string_view bytes) {
  if (input_fd_ < 0) throw std::logic_error("no input to write to");
  while (!bytes.empty()) {
    const ssize_t n = write(input_fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    Check(n < 0 && (errno == EAGAIN || errno == EINTR), "write to the child");
    // Input full: read output until the program has taken some.
    pollfd fds[3] = {{input_fd_, POLLOUT, 0}, {out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
    if (poll(fds, 3, 100) > 0 && (fds[1].revents != 0 || fds[2].revents != 0)) Pump(0ms);
  }
}

void ChildProcess::CloseInput() {
  if (input_fd_ < 0 || input_fd_ == out_.fd) throw std::logic_error("no input of its own to close");
  close(input_fd_);
  if (terminal_fd_ == input_fd_) terminal_fd_ = -1;
  input_fd_ = -1;
}

void ChildProcess::CloseOutputReader() {
  if (out_.fd >= 0 && out_.fd != terminal_fd_) close(out_.fd);
  out_.fd = -1;
}

void ChildProcess::HangUp() {
  if (options_.input != Input::kTerminal) throw std::logic_error("no controlling terminal");
  close(terminal_fd_);
  terminal_fd_ = input_fd_ = out_.fd = -1;
}

void ChildProcess::Signal(int signal_number) {
  if (exited_) return;  // its number may be another process's by now
  // On Linux the master side reads the terminal's foreground group.
  const pid_t group = options_.job_control ? tcgetpgrp(terminal_fd_) : -1;
  kill(group > 0 ? -group : pid_, signal_number);
}

int ChildProcess::Pump(std::chrono::milliseconds budget) {
  Stream* const streams[3] = {&out_, &err_, &reports_};
  pollfd fds[3];
  for (int i = 0; i < 3; ++i) fds[i] = {streams[i]->fd, POLLIN, 0};
  if (std::all_of(fds, fds + 3, [](const pollfd& fd) { return fd.fd < 0; })) return -1;
  const int ready = poll(fds, 3, static_cast<int>(budget.count()));
  if (ready <= 0) return 0;
  char buffer[65536];
  for (int i = 0; i < 3; ++i) {
    if (fds[i].revents == 0) continue;
    Stream& stream = *streams[i];
    const ssize_t n = read(stream.fd, buffer, sizeof buffer);
    if (n > 0) {
      stream.Feed(std::string_view(buffer, static_cast<std::size_t>(n)),
                  &stream == &reports_ ? std::string::npos : options_.keep);
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      // Closed (a terminal's other side answers EIO once no one holds it).
      if (stream.fd != terminal_fd_) close(stream.fd);
      stream.fd = -1;
    }
  }
  return ready;
}

void ChildProcess::Stream::Feed(std::string_view chunk, std::size_t keep) {
  bytes += chunk.size();
  if (!counts.empty()) {
    const std::string joined = carry + std::string(chunk);
    std::size_t longest = 0;
    for (auto& [counted, count] : counts) {
      longest = std::max(longest, counted.size());
      // Only matches that end in the new bytes: the others were counted before.
      for (std::size_t at = joined.find(counted); at != std::string::npos;
           at = joined.find(counted, at + counted.size())) {
        if (at + counted.size() > carry.size()) ++count;
      }
    }
    carry = joined.substr(joined.size() - std::min(longest - 1, joined.size()));
  }
  text.append(chunk);
  if (text.size() > keep) text.erase(0, text.size() - keep);
}

std::uint64_t ChildProcess::Stream::Count(std::string_view counted) const {
  const auto found = counts.find(counted);
  if (found == counts.end()) throw std::logic_error("not a counted text: " + std::string(counted));
  return found->second;
}

bool ChildProcess::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline,
                             std::chrono::milliseconds step) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done();
    // With every output closed, the process may still be on its way out.
    if (Pump(std::min(left, step)) < 0) poll(nullptr, 0, static_cast<int>(std::min(left, step).count()));
  }
  return true;
}

bool ChildProcess::RepeatUntil(const std::function<void()>& act, const std::function<bool()>& done) {
  for (int sent = 0; sent < 8; ++sent) {
    act();
    if (WaitUntil(done, 500ms)) return true;
  }
  return false;
}

bool ChildProcess::WaitForOutput(std::string_view text, std::size_t count, std::size_t from,
                                 std::chrono::milliseconds deadline) {
  return WaitUntil([&] { return test_support::Count(Output(), text, from) >= count; }, deadline);
}

bool ChildProcess::Running() {
  if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
  return !exited_;
}

int ChildProcess::Wait(std::chrono::milliseconds deadline) {
  if (options_.job_control) {
    if (!WaitUntil([&] { return reports_.text.size() >= sizeof status_; }, deadline)) return -1;
    std::memcpy(&status_, reports_.text.data(), sizeof status_);
    reports_.text.erase(0, sizeof status_);
  } else {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= end) {
        Kill();
        return -1;
      }
      if (Pump(10ms) < 0) poll(nullptr, 0, 1);
    }
  }
  // What the program wrote before it ended; a process that it left behind
  // may hold an output open, so no wait for the outputs' end.
  while (Pump(0ms) > 0) {
  }
  return status_;
}

void ChildProcess::Release() {
  if (release_fd_ >= 0 && write(release_fd_, "g", 1) != 1) {
    close(release_fd_);
    release_fd_ = -1;
  }
}

termios ChildProcess::TerminalSettings() const {
  termios settings{};
  Check(tcgetattr(terminal_fd_, &settings) == 0, "tcgetattr");
  return settings;
}

bool ChildProcess::WaitForRawTerminal(std::chrono::milliseconds deadline) {
  return WaitUntil([&] { return (TerminalSettings().c_lflag & (ICANON | ECHO)) == 0; }, deadline,
                   1ms);
}

std::string ChildProcess::Output() const {
  if (options_.input != Input::kTerminal) return out_.text;
  std::string text;
  text.reserve(out_.text.size());
  for (std::size_t i = 0; i < out_.text.size(); ++i) {
    if (out_.text[i] != '\r' || i + 1 == out_.text.size() || out_.text[i + 1] != '\n') {
      text += out_.text[i];
    }
  }
  return text;
}

std::string ChildProcess::Describe() const {
  return "\n--- end of standard output (" + std::to_string(out_.bytes) + " bytes) ---\n" +
         Tail(out_.text) + "\n--- end of standard error (" + std::to_string(err_.bytes) +
         " bytes) ---\n" + Tail(err_.text);
}

std::size_t Count(std::string_view haystack, std::string_view text, std::size_t from) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(text, from); at != std::string_view::npos;
       at = haystack.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> Lines(const std::string& text, std::string_view end) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size()) {
    lines.push_back(text.substr(start, at - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace test_support
