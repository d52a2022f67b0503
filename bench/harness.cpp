#include "harness.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "expected_output.h"

namespace bench {

void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string LineOf(std::string_view text, Input input) {
  return printed::Line(text, input == Input::kTerminal ? "\r\n" : "\n");
}

test_support::Options Counting(Input input, std::vector<std::string> counted,
                               std::vector<std::string> env) {
  return {.input = input, .env = std::move(env), .counted = std::move(counted), .keep = 4096};
}

void WaitFor(ChildProcess& child, const std::string& text, std::uint64_t count,
             std::chrono::milliseconds deadline) {
  if (!child.WaitUntil([&] { return child.OutCount(text) >= count; }, deadline)) {
    Die("the child stopped short of its output" + child.Describe());
  }
}

std::vector<Clock::time_point> Arrivals(ChildProcess& child, const std::string& text,
                                        Clock::time_point end) {
  std::vector<Clock::time_point> at;
  std::uint64_t seen = child.OutCount(text);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0 ||
        !child.WaitUntil([&] { return child.OutCount(text) > seen; }, left)) {
      return at;
    }
    const auto now = Clock::now();
    if (now < end) at.push_back(now);
    seen = child.OutCount(text);
  }
}

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

long StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size() + 1);
  }
  Die("no " + std::string(field) + " for the child");
}

Spread Of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}

}  // namespace bench
