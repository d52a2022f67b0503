// The exerciser's benchmark: runs the built program with the simulated
// library beside the bare reference (reference.c), both in the same run, and
// prints one Markdown table, each figure as the median and the spread
// (lowest to highest) over repeated runs. It asserts nothing; the last column
// only says whether today's median meets the figure's target.
//
//   bench <wdt-exerciser> <reference> [--short]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::string_view kPromptEnd = "quit application.\n";
constexpr std::string_view kTerminalPromptEnd = "quit application.\r\n";
constexpr std::string_view kClosed = "WDT closed. Exiting";
constexpr std::string_view kTimerLine = "Current timeout: ";
constexpr std::string_view kProbeEnable = "EnableTimer(5, 0) -> 0\n";
constexpr std::string_view kProbeDisable = "DisableTimer() -> 0\n";
constexpr int kWarmUpKeys = 100;

struct Settings {
  bool short_mode = false;
  int key_runs = 9;           // key to prompt: its p99 is at the mercy of the machine's load
  int fast_runs = 5;          // pipe and memory figures
  int slow_runs = 3;          // idle, cadence and probe hold
  int terminal_keys = 1000;   // keys per key-to-prompt run
  long pipe_keys = 1000000;   // keys per pipe run
  long memory_keys = 1000000; // the second resident-set sample
  int idle_seconds = 10;
  int cadence_seconds = 20;
};

[[noreturn]] void Die(const std::string& what) {
  if (errno != 0) {
    std::fprintf(stderr, "bench: %s (%s)\n", what.c_str(), std::strerror(errno));
  } else {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
  }
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Counts a text in a stream read in chunks, also where a chunk splits it.
class Counter {
 public:
  explicit Counter(std::string_view text) : text_(text) {}
  // The number of new occurrences in chunk.
  long Feed(std::string_view chunk) {
    joined_.assign(carry_).append(chunk);
    long found = 0;
    for (std::size_t at = joined_.find(text_); at != std::string::npos;
         at = joined_.find(text_, at + text_.size())) {
      if (at + text_.size() > carry_.size()) ++found;
    }
    const std::size_t keep = std::min(text_.size() - 1, joined_.size());
    carry_.assign(joined_, joined_.size() - keep, keep);
    count_ += found;
    return found;
  }
  long count() const { return count_; }

 private:
  std::string text_;
  std::string carry_;
  std::string joined_;
  long count_ = 0;
};

// A child process: the program or the reference, its standard input and
// output through a pseudo-terminal or pipes, standard error through a pipe.
class Child {
 public:
  Child(const std::vector<std::string>& args, bool terminal,
        const std::vector<std::string>& extra_env = {}) {
    // No fault list, no trace unless asked for: the plain program.
    std::vector<std::string> env = extra_env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "WDT_SIM_", 8) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> arg_copy = args;
    std::vector<char*> argv;
    for (std::string& s : arg_copy) argv.push_back(s.data());
    argv.push_back(nullptr);

    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) Die("pipe");
    if (terminal) {
      int master = -1;
      pid_ = forkpty(&master, nullptr, nullptr, nullptr);
      if (pid_ < 0) Die("forkpty");
      if (pid_ == 0) {
        dup2(err[1], STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
      }
      fcntl(master, F_SETFD, FD_CLOEXEC);
      in_ = master;
      out_ = master;
    } else {
      int in[2];
      int out[2];
      if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) Die("pipe");
      pid_ = fork();
      if (pid_ < 0) Die("fork");
      if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
      }
      close(in[0]);
      close(out[1]);
      in_ = in[1];
      out_ = out[0];
    }
    close(err[1]);
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {in_, err_}) {
      if (fd >= 0) close(fd);
    }
    if (out_ >= 0 && out_ != in_) close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  int out() const { return out_; }
  int err() const { return err_; }

  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = write(in_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Die("write to the child");
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void CloseInput() {
    if (in_ != out_) close(in_);
    in_ = -1;
  }

  // Reads what fd has within the deadline; empty on the deadline, and
  // closed set at the end of the stream.
  static std::string_view Read(int fd, std::vector<char>& buffer, Clock::time_point deadline,
                               bool* closed = nullptr) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(std::max<long>(0, left.count())));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return {};
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (closed != nullptr) *closed = true;
        return {};
      }
      return {buffer.data(), static_cast<std::size_t>(n)};
    }
  }

  // Reads fd until counter has reached count.
  void ReadUntil(int fd, Counter& counter, long count, Clock::duration budget,
                 const std::function<void(std::string_view)>& also = {}) {
    const auto deadline = Clock::now() + budget;
    while (counter.count() < count) {
      bool closed = false;
      const std::string_view chunk = Read(fd, buffer_, deadline, &closed);
      if (closed || (chunk.empty() && Clock::now() >= deadline)) {
        errno = 0;
        Die("the child stopped short of its output");
      }
      counter.Feed(chunk);
      if (also) also(chunk);
    }
  }

  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::vector<char> buffer_ = std::vector<char>(1 << 20);
};

// Nanoseconds on a processor so far, all of the process's threads together.
long long CpuNs(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) Die("open " + tasks);
  long long total = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
    long long on_cpu = 0;
    if (schedstat >> on_cpu) total += on_cpu;
  }
  closedir(dir);
  return total;
}

// A line of /proc/<pid>/status, in KiB.
long StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  Die("no " + std::string(field) + " for the child");
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  return values[std::max<std::size_t>(rank, 1) - 1];
}

// --- the figures, each for one run of one program ---

struct KeyLatency {
  double p50_us;
  double p99_us;
};

KeyLatency KeyToPrompt(const std::vector<std::string>& args, int keys) {
  Child child(args, true);
  Counter prompts(kTerminalPromptEnd);
  child.ReadUntil(child.out(), prompts, 1, 10s);
  // Unmeasured keys first: the program has just slept through its 2 s probe
  // hold, and the first keys after an idle spell pay for waking processors.
  std::vector<double> latencies;
  latencies.reserve(static_cast<std::size_t>(keys));
  for (int i = 0; i < kWarmUpKeys + keys; ++i) {
    const auto sent = Clock::now();
    child.Send("a");
    child.ReadUntil(child.out(), prompts, i + 2, 5s);
    if (i >= kWarmUpKeys) {
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
  }
  child.Send("q");
  return {Percentile(latencies, 0.50), Percentile(latencies, 0.99)};
}

// Keys per second from the first prompt to the closing line.
double PipeRate(const std::vector<std::string>& args, long keys) {
  Child child(args, false);
  std::thread feeder([&] {
    const std::string chunk(65536, 'a');
    for (long left = keys; left > 0; left -= static_cast<long>(chunk.size())) {
      child.Send(std::string_view(chunk).substr(0, static_cast<std::size_t>(
                                                       std::min<long>(left, chunk.size()))));
    }
    child.Send("q");
  });
  Counter prompts(kPromptEnd);
  Counter closed(kClosed);
  Clock::time_point first{};
  child.ReadUntil(child.out(), closed, 1, 600s, [&](std::string_view chunk) {
    if (prompts.count() == 0 && prompts.Feed(chunk) > 0) first = Clock::now();
  });
  const auto end = Clock::now();
  feeder.join();
  child.Wait();
  return static_cast<double>(keys) / Seconds(end - first);
}

struct Memory {
  double peak_mib;
  double after_1000_mib;
  double after_all_mib;
};

Memory ResidentSet(const std::vector<std::string>& args, long keys) {
  Child child(args, false);
  Counter prompts(kPromptEnd);
  child.ReadUntil(child.out(), prompts, 1, 10s);
  child.Send(std::string(1000, 'a'));
  child.ReadUntil(child.out(), prompts, 1001, 60s);
  const long after_1000 = StatusKiB(child.pid(), "VmRSS:");
  std::thread feeder([&] {
    const std::string chunk(65536, 'a');
    for (long left = keys - 1000; left > 0; left -= static_cast<long>(chunk.size())) {
      child.Send(std::string_view(chunk).substr(0, static_cast<std::size_t>(
                                                       std::min<long>(left, chunk.size()))));
    }
  });
  child.ReadUntil(child.out(), prompts, keys + 1, 600s);
  feeder.join();
  const long after_all = StatusKiB(child.pid(), "VmRSS:");
  const long peak = StatusKiB(child.pid(), "VmHWM:");
  child.Send("q");
  return {peak / 1024.0, after_1000 / 1024.0, after_all / 1024.0};
}

struct Waiting {
  double idle_percent;  // of one core
  double program_mean_ms, program_worst_ms;
  double reference_idle_percent;
  double reference_mean_ms, reference_worst_ms;
};

// The program and the reference each waiting at a prompt on a terminal, and
// the reference's timed line beside the monitor's.
Waiting Wait(const std::vector<std::string>& program, const std::string& reference,
             const Settings& settings) {
  Child waiting(program, true);
  Child reference_waiting({reference, "keys"}, true);
  Counter prompts(kTerminalPromptEnd);
  Counter reference_prompts(kTerminalPromptEnd);
  std::vector<Clock::time_point> lines;
  Counter timer_lines(kTimerLine);
  waiting.ReadUntil(waiting.out(), prompts, 1, 10s, [&](std::string_view chunk) {
    if (timer_lines.Feed(chunk) > 0) lines.push_back(Clock::now());
  });
  reference_waiting.ReadUntil(reference_waiting.out(), reference_prompts, 1, 10s);
  Child ticking({reference, "tick"}, false);

  const auto start = Clock::now();
  const long long cpu_start = CpuNs(waiting.pid());
  const long long reference_cpu_start = CpuNs(reference_waiting.pid());
  const auto idle_end = start + std::chrono::seconds(settings.idle_seconds);
  const auto cadence_end = start + std::chrono::seconds(settings.cadence_seconds);
  long long cpu = -1;
  long long reference_cpu = -1;
  lines.clear();
  std::vector<Clock::time_point> ticks;
  Counter ticks_seen(kTimerLine);
  std::vector<char> buffer(65536);
  while (Clock::now() < std::max(idle_end, cadence_end) || cpu < 0) {
    if (cpu < 0 && Clock::now() >= idle_end) {
      cpu = CpuNs(waiting.pid()) - cpu_start;
      reference_cpu = CpuNs(reference_waiting.pid()) - reference_cpu_start;
    }
    const auto next = cpu < 0 ? std::min(idle_end, cadence_end) : cadence_end;
    pollfd fds[2] = {{waiting.out(), POLLIN, 0}, {ticking.out(), POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now());
    if (poll(fds, 2, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
    const auto now = Clock::now();
    if (fds[0].revents != 0) {
      const ssize_t n = read(waiting.out(), buffer.data(), buffer.size());
      if (n <= 0) Die("the program's terminal closed");
      if (now < cadence_end && timer_lines.Feed({buffer.data(), static_cast<std::size_t>(n)}) > 0) {
        lines.push_back(now);
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t n = read(ticking.out(), buffer.data(), buffer.size());
      if (n <= 0) Die("the reference's output closed");
      if (now < cadence_end && ticks_seen.Feed({buffer.data(), static_cast<std::size_t>(n)}) > 0) {
        ticks.push_back(now);
      }
    }
  }
  const auto cadence = [](const std::vector<Clock::time_point>& at, double& mean, double& worst) {
    mean = worst = 0;
    if (at.size() < 2) return;
    for (std::size_t i = 1; i < at.size(); ++i) {
      worst = std::max(worst, std::chrono::duration<double, std::milli>(at[i] - at[i - 1]).count());
    }
    mean = std::chrono::duration<double, std::milli>(at.back() - at.front()).count() /
           static_cast<double>(at.size() - 1);
  };
  Waiting result{};
  const double window_ns = settings.idle_seconds * 1e9;
  result.idle_percent = 100.0 * static_cast<double>(cpu) / window_ns;
  result.reference_idle_percent = 100.0 * static_cast<double>(reference_cpu) / window_ns;
  cadence(lines, result.program_mean_ms, result.program_worst_ms);
  cadence(ticks, result.reference_mean_ms, result.reference_worst_ms);
  return result;
}

// From the probe's enable to its disable, as the trace lines arrive on the
// children's standard error; the children run at the same time.
std::vector<double> ProbeHoldsMs(const std::vector<Child*>& children) {
  struct Seen {
    Counter enabled{kProbeEnable};
    Counter disabled{kProbeDisable};
    Clock::time_point enable_at{};
    double hold_ms = -1;
  };
  std::vector<Seen> seen(children.size());
  std::vector<char> buffer(65536);
  const auto deadline = Clock::now() + 10s;
  std::size_t done = 0;
  while (done < children.size()) {
    std::vector<pollfd> fds;
    for (const Child* child : children) fds.push_back({child->err(), POLLIN, 0});
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) Die("no probe in the trace");
    if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) continue;
    const auto now = Clock::now();
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (fds[i].revents == 0 || seen[i].hold_ms >= 0) continue;
      const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
      if (n <= 0) Die("a trace ended before the probe's disable");
      std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
      if (seen[i].enabled.count() == 0) {
        if (seen[i].enabled.Feed(chunk) == 0) continue;
        seen[i].enable_at = now;
        chunk = chunk.substr(chunk.find(kProbeEnable));  // the disable may follow in the same read
      }
      if (seen[i].disabled.Feed(chunk) > 0) {
        seen[i].hold_ms = std::chrono::duration<double, std::milli>(now - seen[i].enable_at).count();
        ++done;
      }
    }
  }
  std::vector<double> holds;
  for (const Seen& s : seen) holds.push_back(s.hold_ms);
  return holds;
}

// --- the table ---

struct Spread {
  double median, low, high;
};

Spread Of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}

std::string Format(const Spread& s, int decimals) {
  char text[128];
  if (s.low == s.high) {
    std::snprintf(text, sizeof text, "%.*f", decimals, s.median);
  } else {
    std::snprintf(text, sizeof text, "%.*f (%.*f–%.*f)", decimals, s.median, decimals, s.low,
                  decimals, s.high);
  }
  return text;
}

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown";
}

template <typename T, typename F>
std::vector<double> Each(const std::vector<T>& runs, F field) {
  std::vector<double> values;
  for (const T& run : runs) values.push_back(field(run));
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <wdt-exerciser> <reference> [--short]\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> program = {argv[1]};
  const std::string reference = argv[2];
  Settings settings;
  if (argc > 3 && std::string_view(argv[3]) == "--short") {
    settings = {true, 2, 2, 1, 200, 20000, 20000, 2, 3};
  }
  signal(SIGPIPE, SIG_IGN);

  const auto progress = [](const char* what) { std::fprintf(stderr, "bench: %s\n", what); };

  progress("key to prompt");
  std::vector<KeyLatency> keys, reference_keys;
  for (int i = 0; i < settings.key_runs; ++i) {
    keys.push_back(KeyToPrompt(program, settings.terminal_keys));
    reference_keys.push_back(KeyToPrompt({reference, "keys"}, settings.terminal_keys));
  }
  progress("keys through a pipe");
  std::vector<double> rate, reference_rate;
  for (int i = 0; i < settings.fast_runs; ++i) {
    rate.push_back(PipeRate(program, settings.pipe_keys));
    reference_rate.push_back(PipeRate({reference, "keys"}, settings.pipe_keys));
  }
  progress("memory");
  std::vector<Memory> memory, reference_memory;
  for (int i = 0; i < settings.fast_runs; ++i) {
    memory.push_back(ResidentSet(program, settings.memory_keys));
    reference_memory.push_back(ResidentSet({reference, "keys"}, settings.memory_keys));
  }
  progress("probe hold");
  std::vector<double> hold, reference_hold;
  for (int i = 0; i < settings.slow_runs; ++i) {
    Child traced(program, false, {"WDT_SIM_TRACE=1"});
    Child holding({reference, "hold"}, false);
    const std::vector<double> holds = ProbeHoldsMs({&traced, &holding});
    hold.push_back(holds[0]);
    reference_hold.push_back(holds[1]);
  }
  progress("idle cost and monitor cadence");
  std::vector<Waiting> waiting;
  for (int i = 0; i < settings.slow_runs; ++i) waiting.push_back(Wait(program, reference, settings));

  const Spread p50 = Of(Each(keys, [](const KeyLatency& k) { return k.p50_us; }));
  const Spread p99 = Of(Each(keys, [](const KeyLatency& k) { return k.p99_us; }));
  const Spread ref_p50 = Of(Each(reference_keys, [](const KeyLatency& k) { return k.p50_us; }));
  const Spread ref_p99 = Of(Each(reference_keys, [](const KeyLatency& k) { return k.p99_us; }));
  const Spread keys_per_s = Of(rate);
  const Spread ref_keys_per_s = Of(reference_rate);
  const Spread peak = Of(Each(memory, [](const Memory& m) { return m.peak_mib; }));
  const Spread after_1000 = Of(Each(memory, [](const Memory& m) { return m.after_1000_mib; }));
  const Spread after_all = Of(Each(memory, [](const Memory& m) { return m.after_all_mib; }));
  const Spread growth = Of(Each(memory, [](const Memory& m) { return 1024 * (m.after_all_mib - m.after_1000_mib); }));
  const Spread ref_peak = Of(Each(reference_memory, [](const Memory& m) { return m.peak_mib; }));
  const Spread ref_after_1000 = Of(Each(reference_memory, [](const Memory& m) { return m.after_1000_mib; }));
  const Spread ref_after_all = Of(Each(reference_memory, [](const Memory& m) { return m.after_all_mib; }));
  const Spread ref_growth = Of(Each(reference_memory, [](const Memory& m) { return 1024 * (m.after_all_mib - m.after_1000_mib); }));
  const Spread idle = Of(Each(waiting, [](const Waiting& w) { return w.idle_percent; }));
  const Spread ref_idle = Of(Each(waiting, [](const Waiting& w) { return w.reference_idle_percent; }));
  const Spread mean = Of(Each(waiting, [](const Waiting& w) { return w.program_mean_ms; }));
  const Spread worst = Of(Each(waiting, [](const Waiting& w) { return w.program_worst_ms; }));
  const Spread ref_mean = Of(Each(waiting, [](const Waiting& w) { return w.reference_mean_ms; }));
  const Spread ref_worst = Of(Each(waiting, [](const Waiting& w) { return w.reference_worst_ms; }));
  const Spread hold_ms = Of(hold);
  const Spread ref_hold_ms = Of(reference_hold);

  const auto met = [](bool yes) { return yes ? "yes" : "**no**"; };
  utsname machine{};
  uname(&machine);
  std::printf("Machine: %ld processors (nproc), %s, Linux %s%s\n\n", sysconf(_SC_NPROCESSORS_ONLN),
              CpuModel().c_str(), machine.release,
              settings.short_mode ? "; SHORT MODE (a smoke run, not a measurement)" : "");
  std::printf("Median (lowest–highest) over %d runs for the key-to-prompt rows, %d for the pipe "
              "and memory rows, %d for the others.\n\n",
              settings.key_runs, settings.fast_runs, settings.slow_runs);
  std::printf("| Figure | wdt-exerciser | Reference | Target | Met |\n|---|---|---|---|---|\n");
  std::printf("| Key to prompt p50, terminal, %d keys (µs) | %s | %s | - | - |\n",
              settings.terminal_keys, Format(p50, 0).c_str(), Format(ref_p50, 0).c_str());
  std::printf("| Key to prompt p99, terminal, %d keys (µs) | %s | %s | ≤ 1.5 × reference | %s |\n",
              settings.terminal_keys, Format(p99, 0).c_str(), Format(ref_p99, 0).c_str(),
              met(p99.median <= 1.5 * ref_p99.median));
  std::printf("| Keys through a pipe, %ld keys (keys/s) | %s | %s | ≥ 0.7 × reference | %s |\n",
              settings.pipe_keys, Format(keys_per_s, 0).c_str(), Format(ref_keys_per_s, 0).c_str(),
              met(keys_per_s.median >= 0.7 * ref_keys_per_s.median));
  std::printf("| Idle CPU over %d s at the prompt (%% of one core) | %s | %s | < 0.05 %% | %s |\n",
              settings.idle_seconds, Format(idle, 4).c_str(), Format(ref_idle, 4).c_str(),
              met(idle.median < 0.05));
  std::printf("| Peak resident set (MiB) | %s | %s | < 4 MiB | %s |\n", Format(peak, 2).c_str(),
              Format(ref_peak, 2).c_str(), met(peak.high < 4.0));
  std::printf("| Resident set after 1,000 keys (MiB) | %s | %s | - | - |\n",
              Format(after_1000, 2).c_str(), Format(ref_after_1000, 2).c_str());
  std::printf("| Resident set after %ld keys (MiB) | %s | %s | - | - |\n", settings.memory_keys,
              Format(after_all, 2).c_str(), Format(ref_after_all, 2).c_str());
  std::printf("| Growth from 1,000 to %ld keys (KiB) | %s | %s | none | %s |\n",
              settings.memory_keys, Format(growth, 0).c_str(), Format(ref_growth, 0).c_str(),
              met(growth.high <= 0));
  std::printf("| Monitor interval mean over %d s (ms) | %s | %s | 1000 to 1005 | %s |\n",
              settings.cadence_seconds, Format(mean, 1).c_str(), Format(ref_mean, 1).c_str(),
              met(mean.median >= 1000 && mean.median <= 1005));
  std::printf("| Monitor interval worst over %d s (ms) | %s | %s | - | - |\n",
              settings.cadence_seconds, Format(worst, 1).c_str(), Format(ref_worst, 1).c_str());
  std::printf("| Probe hold, enable to disable in the trace (ms) | %s | %s | 2000 to 2010 | %s |\n",
              Format(hold_ms, 1).c_str(), Format(ref_hold_ms, 1).c_str(),
              met(hold_ms.median >= 2000 && hold_ms.median <= 2010));
  return 0;
}
