// Hostile input for the built program with the simulated library: every byte
// value as a key, through a pipe and through a terminal, a million random
// keys, and an output that is closed or whose reader went away. The library's
// trace (standard error) shows each reload, disarm and close.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <string>

#include "counted_run.h"

namespace hostile {
namespace {

const std::vector<std::string> kTrace = {"WDT_TRACE=1"};

// Through a terminal, with the program in the terminal's foreground as a
// shell puts it.
test_support::Options Terminal() {
  return Counted({.input = Input::kTerminal, .env = kTrace, .job_control = true});
}

bool ExitedWith0(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// Waits until exactly `keys` keys have been taken: the first reload and
// prompt plus one of each per key.
::testing::AssertionResult TookKeys(ChildProcess& run, std::uint64_t keys) {
  const std::uint64_t want = keys + 1;
  run.WaitUntil([&] { return run.OutCount(kPrompt) >= want && run.ErrCount(kReload) >= want; });
  if (run.OutCount(kPrompt) == want && run.ErrCount(kReload) == want) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "after " << keys << " keys: " << run.OutCount(kPrompt) << " prompts and "
         << run.ErrCount(kReload) << " reloads, expected " << want << " of each" << run.Describe();
}

// q disarms, closes, says so and ends the program with status 0.
void ExpectQuitRoad(ChildProcess& run, std::uint64_t keys) {
  const int status = run.Wait(60s);
  EXPECT_TRUE(ExitedWith0(status)) << "wait status " << status << run.Describe();
  EXPECT_EQ(run.ErrCount(kReload), keys + 1) << run.Describe();
  EXPECT_EQ(run.ErrCount(kDisable), 2u) << "the probe's disable and q's" << run.Describe();
  EXPECT_EQ(run.ErrCount(kClose), 1u) << run.Describe();
  EXPECT_EQ(SanitizerReports(run), 0u) << run.Describe();
}

TEST(HostileInputTest, EveryByteThroughAPipeButQReloadsOnceAndPromptsOnce) {
  ChildProcess run({WDT_EXERCISER_PATH}, Counted({.env = kTrace}));
  ASSERT_TRUE(TookKeys(run, 0));
  std::uint64_t keys = 0;
  for (int byte = 0; byte <= 255; ++byte) {
    if (byte == 'q') continue;
    run.Send(std::string(1, static_cast<char>(byte)));
    ++keys;
    ASSERT_TRUE(TookKeys(run, keys)) << "byte " << byte;
  }
  EXPECT_EQ(run.ErrCount(kDisable), 1u) << "only the probe's disable before q";
  run.Send("q");
  ExpectQuitRoad(run, keys);
  EXPECT_EQ(run.OutCount(kPrompt), keys + 1);
  EXPECT_EQ(run.OutCount(kClosed), 1u);
}

// What the terminal, in the settings that the program's read put it in, does
// with one byte typed.
enum class Typed { kDelivered, kSwallowed, kSignal };

Typed WhatTheTerminalDoes(const termios& settings, unsigned char byte) {
  const auto is = [&](int index) {
    return settings.c_cc[index] != _POSIX_VDISABLE && settings.c_cc[index] == byte;
  };
  if ((settings.c_lflag & ISIG) != 0 && (is(VINTR) || is(VQUIT) || is(VSUSP))) {
    return Typed::kSignal;
  }
  // START and STOP are the terminal's own under output flow control (IXON),
  // which the read turns off: there they are keys.
  if ((settings.c_iflag & IXON) != 0 && (is(VSTART) || is(VSTOP))) return Typed::kSwallowed;
  if (byte == '\r' && (settings.c_iflag & IGNCR) != 0) return Typed::kSwallowed;
  // Without ICANON nothing else is special: erase, kill, end of file and the
  // rest reach the read as plain bytes (\r as \n under ICRNL).
  return Typed::kDelivered;
}

TEST(HostileInputTest, EveryByteThatTheTerminalHandsOverReloadsOnceAndPromptsOnce) {
  ChildProcess run({WDT_EXERCISER_PATH}, Terminal());
  ASSERT_TRUE(TookKeys(run, 0));
  ASSERT_TRUE(run.WaitForRawTerminal());
  const termios raw = run.TerminalSettings();
  ASSERT_EQ(raw.c_lflag & (ICANON | ECHO), 0u) << "the read is neither line-edited nor echoed";
  ASSERT_EQ(raw.c_iflag & PARMRK, 0u) << "every delivered byte is one byte";
  ASSERT_EQ(raw.c_iflag & IXON, 0u) << "Ctrl+S and Ctrl+Q are keys: output never stops at a read";

  std::uint64_t keys = 0;
  for (int value = 0; value <= 255; ++value) {
    const auto byte = static_cast<unsigned char>(value);
    if (byte == 'q') continue;
    const Typed typed = WhatTheTerminalDoes(raw, byte);
    if (typed == Typed::kSignal) continue;  // the signal tests below
    ASSERT_TRUE(run.WaitForRawTerminal()) << "byte " << value;
    run.Send(std::string(1, static_cast<char>(byte)));
    if (typed == Typed::kSwallowed) {
      // A byte that never reaches the program is followed by one that does:
      // one reload for the two shows the first was swallowed.
      run.Send("a");
    }
    ++keys;
    ASSERT_TRUE(TookKeys(run, keys)) << "byte " << value;
  }
  ASSERT_TRUE(run.WaitForRawTerminal());
  run.Send("q");
  ExpectQuitRoad(run, keys);
  EXPECT_EQ(run.OutCount(kPrompt), keys + 1);
  const termios after = run.TerminalSettings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), ICANON | ECHO) << "the terminal is put back";
}

// The terminal's signal character, typed while the program waits for a key.
void TypeSignalCharacter(ChildProcess& run, int index) {
  ASSERT_TRUE(TookKeys(run, 0));
  ASSERT_TRUE(run.WaitForRawTerminal());
  const termios raw = run.TerminalSettings();
  ASSERT_NE(raw.c_lflag & ISIG, 0u);
  ASSERT_NE(raw.c_cc[index], _POSIX_VDISABLE);
  run.Send(std::string(1, static_cast<char>(raw.c_cc[index])));
}

void ExpectKilledWithTerminalPutBack(ChildProcess& run, int signal_number) {
  const int status = run.Wait();
  ASSERT_NE(status, -1) << run.Describe();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
      << "wait status " << status << run.Describe();
  const termios after = run.TerminalSettings();
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), ICANON | ECHO) << "the terminal is put back";
  EXPECT_EQ(run.ErrCount(kDisable), 1u) << "nothing is disarmed on the way out";
  EXPECT_EQ(SanitizerReports(run), 0u) << run.Describe();
}

TEST(HostileInputTest, TheTerminalsInterruptCharacterInterrupts) {
  ChildProcess run({WDT_EXERCISER_PATH}, Terminal());
  TypeSignalCharacter(run, VINTR);
  ExpectKilledWithTerminalPutBack(run, SIGINT);
}

TEST(HostileInputTest, TheTerminalsQuitCharacterQuits) {
  ChildProcess run({WDT_EXERCISER_PATH}, Terminal());
  TypeSignalCharacter(run, VQUIT);
  ExpectKilledWithTerminalPutBack(run, SIGQUIT);
}

TEST(HostileInputTest, TheTerminalsSuspendCharacterStopsUntilContinued) {
  ChildProcess run({WDT_EXERCISER_PATH}, Terminal());
  TypeSignalCharacter(run, VSUSP);
  const int status = run.Wait();
  ASSERT_TRUE(status != -1 && WIFSTOPPED(status) && WSTOPSIG(status) == SIGTSTP)
      << "wait status " << status << run.Describe();
  const termios stopped = run.TerminalSettings();
  EXPECT_EQ(stopped.c_lflag & (ICANON | ECHO), ICANON | ECHO) << "put back while stopped";

  run.Release();  // continued, as by fg
  ASSERT_TRUE(run.WaitForRawTerminal()) << "the read goes on in raw mode";
  run.Send("a");
  ASSERT_TRUE(TookKeys(run, 1));
  ASSERT_TRUE(run.WaitForRawTerminal());
  run.Send("q");
  ExpectQuitRoad(run, 1);
}

TEST(HostileInputTest, AMillionRandomKeysReloadOncePerKey) {
  std::string keys;
  keys.reserve(1'000'000);
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> byte(0, 255);
  while (keys.size() < 1'000'000) {
    const int value = byte(random);
    if (value != 'q') keys += static_cast<char>(value);
  }
  ChildProcess run({WDT_EXERCISER_PATH}, Counted({.env = kTrace}));
  run.Send(keys);
  run.Send("q");
  run.CloseInput();
  ExpectQuitRoad(run, keys.size());
  EXPECT_EQ(run.OutCount(kPrompt), keys.size() + 1);
  EXPECT_EQ(run.OutCount(kClosed), 1u);
}

TEST(HostileInputTest, WithStandardOutputClosedKeysStillReloadAndQStillCloses) {
  ChildProcess run({WDT_EXERCISER_PATH}, Counted({.env = kTrace, .close_output = true}));
  ASSERT_TRUE(run.WaitUntil([&] { return run.ErrCount(kReload) >= 1; })) << run.Describe();
  run.Send("ab");
  ASSERT_TRUE(run.WaitUntil([&] { return run.ErrCount(kReload) >= 3; })) << run.Describe();
  EXPECT_EQ(run.ErrCount(kDisable), 1u);
  run.Send("q");
  ExpectQuitRoad(run, 2);
}

TEST(HostileInputTest, WhenTheOutputsReaderGoesAwayKeysStillReloadAndQStillCloses) {
  ChildProcess run({WDT_EXERCISER_PATH}, Counted({.env = kTrace}));
  ASSERT_TRUE(TookKeys(run, 0));
  run.CloseOutputReader();
  run.Send("ab");
  ASSERT_TRUE(run.WaitUntil([&] { return run.ErrCount(kReload) >= 3; })) << run.Describe();
  EXPECT_EQ(run.ErrCount(kDisable), 1u);
  run.Send("q");
  ExpectQuitRoad(run, 2);
}

}  // namespace
}  // namespace hostile
