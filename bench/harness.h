// What every measurement shares: a child that counts lines in its outputs,
// waiting for them and their arrival times, what /proc says of a child, the
// median of repeated runs, and the end of the benchmark when a run goes wrong.
// The children run through the tests' child-process harness.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using test_support::ChildProcess;
using test_support::Input;

[[noreturn]] void Die(const std::string& what);

double Seconds(Clock::duration d);

// A whole line as it arrives: a terminal ends it with "\r\n".
std::string LineOf(std::string_view text, Input input);

// A child that counts `counted` in its outputs and keeps only their ends: a
// pipe run prints some 80 MB.
test_support::Options Counting(Input input, std::vector<std::string> counted,
                               std::vector<std::string> env = {});

// Reads the child's outputs until `text` has occurred `count` times in
// standard output.
void WaitFor(ChildProcess& child, const std::string& text, std::uint64_t count,
             std::chrono::milliseconds deadline);

// The arrival times of `text` in standard output until `end`, one for each
// read that brought it.
std::vector<Clock::time_point> Arrivals(ChildProcess& child, const std::string& text,
                                        Clock::time_point end);

// Nanoseconds on a processor so far, all of the process's threads together.
long long CpuNs(pid_t pid);

// A line of /proc/<pid>/status, in KiB.
long StatusKiB(pid_t pid, std::string_view field);

// The median of values, with the lowest and the highest.
struct Spread {
  double median, low, high;
};
Spread Of(std::vector<double> values);

}  // namespace bench
