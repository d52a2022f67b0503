// The kernel watchdog backend against a fake device that behaves as the
// kernel's watchdog core does: opening starts the watchdog, enabling does not
// ping, the magic flag is kept across a close of a stopped watchdog, and the
// driver may lack the time left or refuse to stop (nowayout).
#include "kernel_watchdog.h"

#include <gtest/gtest.h>

#include "status_codes.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using kdev::Clock;
using kdev::Failed;
using kdev::KernelWatchdog;
using kdev::Request;
using kdev::StatusForErrno;

constexpr int kFd = 7;

struct FakeDevice {
  // The driver.
  bool nowayout = false;
  bool has_time_left = false;
  int min_timeout = 1;
  int max_timeout = 65535;
  bool character_device = true;  // false: a regular file, a FIFO, a disk's partition
  bool watchdog = true;          // false: a terminal, /dev/null, any other device
  int interrupted_writes = 0;    // writes that a signal interrupts before they pass
  std::map<std::string, int> failures;  // call name -> errno it fails with

  // The device.
  bool held_open = false;
  bool active = false;
  int timeout = 60;
  bool allow_release = false;  // the magic close flag
  Clock::time_point last_ping{};
  Clock::time_point now = Clock::time_point{} + 1000s;
  std::vector<std::string> log;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};

  bool Fired() const { return active && now >= last_ping + std::chrono::seconds(timeout); }
  void Ping() {
    if (active) last_ping = now;
  }
  // Records the call; the errno that it is told to fail with, or 0.
  int Enter(const std::string& name) {
    if (inside.fetch_add(1) != 0) overlapped = true;
    log.push_back(name);
    const auto failure = failures.find(name.substr(0, name.find(' ')));
    return failure == failures.end() ? 0 : failure->second;
  }
  void Leave() { inside.fetch_sub(1); }
};

FakeDevice* g_device = nullptr;

int FakeOpen(const char*) {
  FakeDevice& d = *g_device;
  const int error = d.Enter("open");
  int result = kFd;
  if (error != 0) {
    result = -error;
  } else if (d.held_open) {
    result = -EBUSY;
  } else {
    d.held_open = true;
    if (!d.active) d.last_ping = d.now;
    d.active = true;  // opening starts the watchdog
  }
  d.Leave();
  return result;
}

int FakeIoctl(int fd, Request request, int* argument) {
  FakeDevice& d = *g_device;
  static const std::map<Request, std::string> names = {
      {Request::kSetOptions, "SETOPTIONS"}, {Request::kSetTimeout, "SETTIMEOUT"},
      {Request::kGetTimeout, "GETTIMEOUT"}, {Request::kGetTimeLeft, "GETTIMELEFT"},
      {Request::kKeepAlive, "KEEPALIVE"}};
  std::string name = names.at(request);
  if (request == Request::kSetOptions || request == Request::kSetTimeout) {
    name += " " + std::to_string(*argument);
  }
  const int error = d.Enter(name);
  int result = 0;
  if (fd != kFd || !d.held_open) {
    result = -EBADF;
  } else if (error != 0) {
    result = -error;
  } else {
    switch (request) {
      case Request::kSetOptions:
        if (*argument == kdev::kDisableCard) {
          if (d.nowayout) {
            result = -EBUSY;
          } else {
            d.active = false;
          }
        } else if (*argument == kdev::kEnableCard) {
          if (!d.active) d.last_ping = d.now;  // a start; a running one is not pinged
          d.active = true;
        } else {
          result = -EINVAL;
        }
        break;
      case Request::kSetTimeout:
        if (*argument < d.min_timeout || *argument > d.max_timeout) {
          result = -EINVAL;
        } else {
          d.timeout = *argument;
          d.Ping();
        }
        break;
      case Request::kGetTimeout:
        *argument = d.timeout;
        break;
      case Request::kGetTimeLeft:
        if (!d.has_time_left) {
          result = -EOPNOTSUPP;
        } else {
          const auto left = d.last_ping + std::chrono::seconds(d.timeout) - d.now;
          *argument = static_cast<int>(std::chrono::floor<std::chrono::seconds>(left).count());
        }
        break;
      case Request::kKeepAlive:
        d.Ping();
        break;
    }
  }
  d.Leave();
  return result;
}

long FakeWrite(int fd, const char* data, std::size_t size) {
  FakeDevice& d = *g_device;
  const std::string bytes(data, size);
  const int error = d.Enter("write " + bytes);
  long result = static_cast<long>(size);
  if (fd != kFd || !d.held_open) {
    result = -EBADF;
  } else if (d.interrupted_writes > 0) {
    --d.interrupted_writes;
    result = -EINTR;
  } else if (error != 0) {
    result = -error;
  } else {
    d.allow_release = bytes.find(kdev::kMagicClose) != std::string::npos;
    d.Ping();
  }
  d.Leave();
  return result;
}

int FakeClose(int fd) {
  FakeDevice& d = *g_device;
  const int error = d.Enter("close");
  if (fd == kFd && d.held_open) {
    d.held_open = false;
    // The flag is only looked at, and cleared, when the watchdog runs.
    if (d.active && d.allow_release) {
      d.allow_release = false;
      if (!d.nowayout) d.active = false;
    }
  }
  d.Leave();
  return error != 0 ? -error : 0;
}

int FakeIsCharacterDevice(int fd) {
  g_device->Enter("fstat");
  g_device->Leave();
  return fd == kFd ? g_device->character_device : -EBADF;
}

int FakeIdentify(int, std::string* identity) {
  g_device->Enter("GETSUPPORT");
  g_device->Leave();
  if (!g_device->watchdog) return -ENOTTY;
  *identity = "Fake\x1b watchdog";
  return 0;
}

void FakeHoldSignals(bool hold) { g_device->log.push_back(hold ? "hold signals" : "let signals"); }

Clock::time_point FakeNow() { return g_device->now; }

constexpr kdev::SystemCalls kFakeCalls = {FakeOpen, FakeIsCharacterDevice, FakeIdentify, FakeIoctl,
                                          FakeWrite, FakeClose, FakeNow, FakeHoldSignals};

class KernelWatchdogTest : public ::testing::Test {
 protected:
  KernelWatchdogTest() { g_device = &device_; }
  ~KernelWatchdogTest() override { g_device = nullptr; }

  KernelWatchdog& Make(bool trace = false) {
    watchdog_ = std::make_unique<KernelWatchdog>(
        "/dev/watchdog0", kFakeCalls, trace,
        [this](std::string_view line) { diagnostics_ += line; });
    return *watchdog_;
  }
  // A session open and armed for 30 seconds, the log cleared.
  KernelWatchdog& Armed(std::uint32_t timeout = 30) {
    KernelWatchdog& w = Make();
    EXPECT_EQ(w.InitializeSession(), wdt::kOk);
    EXPECT_EQ(w.EnableTimer(timeout, 0), wdt::kOk);
    device_.log.clear();
    return w;
  }
  std::uint32_t Read(KernelWatchdog& w) {
    std::uint32_t value = 12345;
    EXPECT_EQ(w.ReadTimerValue(&value), wdt::kOk);
    return value;
  }
  using Log = std::vector<std::string>;

  FakeDevice device_;
  std::string diagnostics_;
  std::unique_ptr<KernelWatchdog> watchdog_;
};

// --- errno mapping ------------------------------------------------------

TEST(StatusForErrnoTest, NoDeviceNoRightOrBusyAtOpenIsNoHandle) {
  for (const int error : {ENOENT, ENODEV, ENXIO, EACCES, EPERM, EBUSY}) {
    EXPECT_EQ(StatusForErrno(Failed::kOpen, error), wdt::kNoHandle) << error;
  }
  EXPECT_EQ(StatusForErrno(Failed::kOpen, EIO), wdt::kNoCommunication);
  EXPECT_EQ(StatusForErrno(Failed::kOpen, EINVAL), wdt::kNoCommunication);
  EXPECT_EQ(StatusForErrno(Failed::kOpen, EMFILE), wdt::kNoCommunication);
}

TEST(StatusForErrnoTest, TimeoutOutOfRangeIsBadParameter) {
  EXPECT_EQ(StatusForErrno(Failed::kSetTimeout, EINVAL), wdt::kBadParameter);
  EXPECT_EQ(StatusForErrno(Failed::kSetTimeout, EIO), wdt::kNoCommunication);
  EXPECT_EQ(StatusForErrno(Failed::kSetTimeout, EOPNOTSUPP), wdt::kNoCommunication);
}

TEST(StatusForErrnoTest, EveryOtherErrnoIsNoCommunication) {
  for (const int error : {EINVAL, EBUSY, ENOENT, EACCES, EIO, ENOTTY, EFAULT, EBADF}) {
    EXPECT_EQ(StatusForErrno(Failed::kOther, error), wdt::kNoCommunication) << error;
  }
}

// --- InitializeSession --------------------------------------------------

TEST_F(KernelWatchdogTest, InitializeIdentifiesThenDisarmsAtOnceWithSignalsHeld) {
  KernelWatchdog& w = Make();
  EXPECT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_TRUE(device_.held_open);
  EXPECT_FALSE(device_.active);
  EXPECT_EQ(device_.log, (Log{"hold signals", "open", "fstat", "GETSUPPORT", "SETOPTIONS 1",
                              "GETTIMEOUT", "write \n", "let signals"}));
  EXPECT_EQ(diagnostics_, "");
}

// Only a watchdog is written to or asked anything beyond what it is.
struct Identification {
  const char* name;
  bool character_device;
  bool watchdog;
  int open_error;
  const char* why;
  std::vector<std::string> log;
  friend void PrintTo(const Identification& it, std::ostream* os) { *os << it.name; }
};

class IdentificationTest : public KernelWatchdogTest,
                           public testing::WithParamInterface<Identification> {};

TEST_P(IdentificationTest, WhatIsNotAWatchdogIsClosedUntouched) {
  const Identification& it = GetParam();
  device_.character_device = it.character_device;
  device_.watchdog = it.watchdog;
  if (it.open_error != 0) device_.failures["open"] = it.open_error;
  KernelWatchdog& w = Make();
  EXPECT_EQ(w.InitializeSession(), wdt::kNoHandle);
  EXPECT_EQ(device_.log, it.log);
  EXPECT_FALSE(device_.held_open);
  EXPECT_EQ(diagnostics_, std::string("wdtDLL (/dev/watchdog0): ") + it.why + "\n");
  EXPECT_EQ(w.DisableTimer(), wdt::kNoHandle);  // no session
}

INSTANTIATE_TEST_SUITE_P(
    Files, IdentificationTest,
    testing::Values(
        Identification{"RegularFile", false, false, 0, "not a character device",
                       {"hold signals", "open", "fstat", "close", "let signals"}},
        Identification{"FifoWithoutReader", false, false, ENXIO,
                       "cannot open the device: No such device or address",
                       {"hold signals", "open", "let signals"}},
        Identification{"TerminalOrNullDevice", true, false, 0, "not a watchdog device",
                       {"hold signals", "open", "fstat", "GETSUPPORT", "close", "let signals"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KernelWatchdogTest, OpenFailuresAreNoHandleAndSaySo) {
  for (const int error : {ENOENT, EACCES, EPERM, ENODEV}) {
    device_.failures["open"] = error;
    diagnostics_.clear();
    KernelWatchdog& w = Make();
    EXPECT_EQ(w.InitializeSession(), wdt::kNoHandle) << error;
    EXPECT_NE(diagnostics_.find("cannot open the device"), std::string::npos);
    EXPECT_EQ(w.EnableTimer(30, 0), wdt::kNoHandle);  // no session
  }
  device_.failures["open"] = EIO;
  EXPECT_EQ(Make().InitializeSession(), 1);
}

TEST_F(KernelWatchdogTest, DeviceHeldByAnotherProcessIsBusy) {
  device_.held_open = true;
  device_.active = true;
  device_.last_ping = device_.now;
  EXPECT_EQ(Make().InitializeSession(), 2);
  EXPECT_TRUE(device_.active);  // the other holder's watchdog is left alone
}

TEST_F(KernelWatchdogTest, SecondInitializeInOneSessionIsRefused) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_EQ(w.InitializeSession(), wdt::kNoHandle);
  EXPECT_TRUE(device_.held_open);
}

TEST_F(KernelWatchdogTest, NowayoutKeepsTheSessionArmedWithItsTimeout) {
  device_.nowayout = true;
  device_.timeout = 45;
  KernelWatchdog& w = Make();
  EXPECT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_TRUE(device_.active);
  EXPECT_NE(diagnostics_.find("nowayout"), std::string::npos);
  EXPECT_NE(diagnostics_.find("45-second"), std::string::npos);
  device_.now += 10s;
  EXPECT_EQ(Read(w), 35u);  // counts down from the open
  EXPECT_EQ(w.DisableTimer(), wdt::kNoCommunication);
  EXPECT_TRUE(device_.active);
}

TEST_F(KernelWatchdogTest, AWatchdogThatCannotBeDisarmedIsClosedWithTheMagic) {
  device_.failures["SETOPTIONS"] = ENOTTY;
  KernelWatchdog& w = Make();
  EXPECT_EQ(w.InitializeSession(), wdt::kNoCommunication);
  EXPECT_FALSE(device_.held_open);
  EXPECT_EQ(w.ReadTimerValue(nullptr), wdt::kNoHandle);
}

TEST_F(KernelWatchdogTest, StaleMagicFromAnEarlierUserIsClearedAtOpen) {
  device_.allow_release = true;
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_FALSE(device_.allow_release);
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  // The process dies while armed: the kernel closes without the magic, and
  // the watchdog must go on to fire.
  FakeClose(kFd);
  EXPECT_TRUE(device_.active);
  device_.now += 30s;
  EXPECT_TRUE(device_.Fired());
}

// --- EnableTimer --------------------------------------------------------

TEST_F(KernelWatchdogTest, EnableSetsTheTimeoutStartsAndPings) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  device_.log.clear();
  EXPECT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"SETTIMEOUT 30", "SETOPTIONS 2", "KEEPALIVE"}));
  EXPECT_TRUE(device_.active);
  EXPECT_EQ(device_.timeout, 30);
  device_.now += 29s;
  EXPECT_FALSE(device_.Fired());
  device_.now += 1s;
  EXPECT_TRUE(device_.Fired());
}

TEST_F(KernelWatchdogTest, EnableInMinutesSetsSixtyTimesTheSeconds) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_EQ(w.EnableTimer(2, 1), wdt::kOk);
  EXPECT_EQ(device_.timeout, 120);
  device_.now += 61s;
  EXPECT_EQ(Read(w), 1u);  // in minutes, rounded up
}

TEST_F(KernelWatchdogTest, EnableWithAnUnknownUnitTouchesNothing) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  device_.log.clear();
  EXPECT_EQ(w.EnableTimer(30, 2), wdt::kBadParameter);
  EXPECT_EQ(w.EnableTimer(30, -1), wdt::kBadParameter);
  EXPECT_EQ(w.EnableTimer(4294967295u, 1), wdt::kBadParameter);  // more seconds than the kernel takes
  EXPECT_EQ(w.EnableTimer(2147483648u, 0), wdt::kBadParameter);
  EXPECT_TRUE(device_.log.empty());
  EXPECT_FALSE(device_.active);
}

TEST_F(KernelWatchdogTest, TimeoutOutsideTheDriversRangeIsBadParameter) {
  device_.min_timeout = 3;
  device_.max_timeout = 614;
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_EQ(w.EnableTimer(0, 0), wdt::kBadParameter);
  EXPECT_EQ(w.EnableTimer(615, 0), wdt::kBadParameter);
  EXPECT_FALSE(device_.active);
  EXPECT_EQ(w.EnableTimer(614, 0), wdt::kOk);
  EXPECT_TRUE(device_.active);
}

TEST_F(KernelWatchdogTest, EnableFailuresOtherThanRangeAreNoCommunication) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  device_.failures["SETOPTIONS"] = EIO;
  EXPECT_EQ(w.EnableTimer(30, 0), wdt::kNoCommunication);
  EXPECT_FALSE(device_.active);
  device_.failures.clear();
  device_.failures["KEEPALIVE"] = EOPNOTSUPP;
  EXPECT_EQ(w.EnableTimer(30, 0), wdt::kNoCommunication);
  EXPECT_TRUE(device_.active);
  // Armed as far as the record goes, so the close disarms it.
  device_.failures.clear();
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  EXPECT_FALSE(device_.active);
}

// --- DisableTimer -------------------------------------------------------

TEST_F(KernelWatchdogTest, DisableStopsTheWatchdog) {
  KernelWatchdog& w = Armed();
  EXPECT_EQ(w.DisableTimer(), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"SETOPTIONS 1"}));
  EXPECT_FALSE(device_.active);
}

TEST_F(KernelWatchdogTest, DisableRefusedByTheDriverIsNoCommunication) {
  KernelWatchdog& w = Armed();
  device_.failures["SETOPTIONS"] = EBUSY;
  EXPECT_EQ(w.DisableTimer(), wdt::kNoCommunication);
  EXPECT_TRUE(device_.active);
}

// --- WriteTimerValue ----------------------------------------------------

TEST_F(KernelWatchdogTest, WriteOfTheTimeoutInForcePings) {
  KernelWatchdog& w = Armed();
  device_.now += 20s;
  EXPECT_EQ(w.WriteTimerValue(30), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"KEEPALIVE"}));
  device_.now += 29s;
  EXPECT_FALSE(device_.Fired());
}

TEST_F(KernelWatchdogTest, WriteOfAnotherValueSetsTheTimeout) {
  KernelWatchdog& w = Armed();
  device_.now += 20s;
  EXPECT_EQ(w.WriteTimerValue(12), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"SETTIMEOUT 12"}));
  EXPECT_EQ(device_.timeout, 12);
  EXPECT_EQ(Read(w), 12u);
  device_.log.clear();
  EXPECT_EQ(w.WriteTimerValue(12), wdt::kOk);  // now the one in force
  EXPECT_EQ(device_.log, (Log{"KEEPALIVE"}));
}

TEST_F(KernelWatchdogTest, WriteDoesNotArmADisarmedWatchdog) {
  KernelWatchdog& w = Armed();
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  EXPECT_EQ(w.WriteTimerValue(30), wdt::kOk);
  EXPECT_EQ(w.WriteTimerValue(40), wdt::kOk);
  EXPECT_FALSE(device_.active);
}

TEST_F(KernelWatchdogTest, WriteOutsideTheRangeOrFailingMaps) {
  KernelWatchdog& w = Armed();
  EXPECT_EQ(w.WriteTimerValue(0), wdt::kBadParameter);
  EXPECT_EQ(w.WriteTimerValue(70000), wdt::kBadParameter);
  device_.failures["KEEPALIVE"] = EIO;
  EXPECT_EQ(w.WriteTimerValue(30), wdt::kNoCommunication);
  device_.failures["SETTIMEOUT"] = EFAULT;
  EXPECT_EQ(w.WriteTimerValue(31), wdt::kNoCommunication);
}

// --- ReadTimerValue -----------------------------------------------------

TEST_F(KernelWatchdogTest, ReadAsksTheDriverWhereItKnowsTheTimeLeft) {
  device_.has_time_left = true;
  KernelWatchdog& w = Armed();
  device_.now += 10500ms;
  EXPECT_EQ(Read(w), 19u);  // the driver's rounding, not the record's
  EXPECT_EQ(device_.log, (Log{"GETTIMELEFT"}));
  device_.failures["GETTIMELEFT"] = EIO;
  std::uint32_t value = 0;
  EXPECT_EQ(w.ReadTimerValue(&value), wdt::kNoCommunication);
}

TEST_F(KernelWatchdogTest, ReadCountsFromItsOwnRecordWhereTheDriverCannot) {
  KernelWatchdog& w = Armed();
  EXPECT_EQ(Read(w), 30u);
  device_.now += 10500ms;
  EXPECT_EQ(Read(w), 20u);
  device_.now += 2s;
  EXPECT_EQ(Read(w), 18u);
  ASSERT_EQ(w.WriteTimerValue(30), wdt::kOk);
  EXPECT_EQ(Read(w), 30u);  // back up after the reload
  // The driver is asked once; then the record alone answers.
  int asked = 0;
  for (const std::string& call : device_.log) asked += call == "GETTIMELEFT";
  EXPECT_EQ(asked, 1);
  device_.now += 31s;
  EXPECT_EQ(Read(w), 0u);
}

TEST_F(KernelWatchdogTest, ReadOfADisarmedWatchdogShowsWhereItStopped) {
  KernelWatchdog& w = Armed();
  device_.now += 7s;
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  device_.now += 100s;
  EXPECT_EQ(Read(w), 23u);
}

TEST_F(KernelWatchdogTest, ReadWithoutAHolderOrSessionFails) {
  KernelWatchdog& w = Armed();
  EXPECT_EQ(w.ReadTimerValue(nullptr), wdt::kBadParameter);
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  ASSERT_EQ(w.CloseSession(), wdt::kOk);
  std::uint32_t value = 0;
  EXPECT_EQ(w.ReadTimerValue(&value), wdt::kNoHandle);
}

// --- CloseSession -------------------------------------------------------

TEST_F(KernelWatchdogTest, DisarmedWatchdogIsClosedWithoutTheMagic) {
  KernelWatchdog& w = Armed();
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  device_.log.clear();
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"close"}));
  EXPECT_FALSE(device_.active);
  EXPECT_FALSE(device_.allow_release);  // nothing stale for the next user
  // The next session crashes while armed: its watchdog still fires.
  KernelWatchdog& next = Make();
  ASSERT_EQ(next.InitializeSession(), wdt::kOk);
  ASSERT_EQ(next.EnableTimer(5, 0), wdt::kOk);
  FakeClose(kFd);
  device_.now += 5s;
  EXPECT_TRUE(device_.Fired());
}

TEST_F(KernelWatchdogTest, ArmedWatchdogGetsTheMagicCloseAlsoAfterInterruptedWrites) {
  KernelWatchdog& w = Armed();
  device_.interrupted_writes = 2;
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  EXPECT_EQ(device_.log, (Log{"write V", "write V", "write V", "close"}));
  EXPECT_FALSE(device_.active);
  EXPECT_FALSE(device_.allow_release);
}

TEST_F(KernelWatchdogTest, AMagicCloseThatCannotBeWrittenIsReported) {
  KernelWatchdog& w = Armed();
  device_.failures["write"] = EIO;
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  EXPECT_TRUE(device_.active);
  EXPECT_NE(diagnostics_.find("cannot write the magic close character"), std::string::npos);
}

TEST_F(KernelWatchdogTest, ArmedNowayoutWatchdogStaysArmedAfterTheClose) {
  device_.nowayout = true;
  KernelWatchdog& w = Armed();
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  EXPECT_TRUE(device_.active);
  EXPECT_FALSE(device_.allow_release);
}

TEST_F(KernelWatchdogTest, CloseEndsTheSessionEvenWhenCloseReportsAnError) {
  KernelWatchdog& w = Armed();
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  device_.failures["close"] = EIO;
  EXPECT_EQ(w.CloseSession(), wdt::kNoCommunication);
  EXPECT_EQ(w.CloseSession(), wdt::kNoHandle);
  device_.failures.clear();
  EXPECT_EQ(w.InitializeSession(), wdt::kOk);  // a new session may start
}

// --- both threads, tracing ---------------------------------------------

TEST_F(KernelWatchdogTest, TwoThreadsNeverMeetInsideTheDevice) {
  KernelWatchdog& w = Armed();
  std::thread reader([&] {
    for (int i = 0; i < 2000; ++i) {
      std::uint32_t value = 0;
      w.ReadTimerValue(&value);
    }
  });
  for (int i = 0; i < 2000; ++i) w.WriteTimerValue(i % 2 == 0 ? 30 : 20);
  reader.join();
  EXPECT_FALSE(device_.overlapped);
}

TEST_F(KernelWatchdogTest, TraceLinesNameEachCallAndItsStatus) {
  KernelWatchdog& w = Make(true);
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(5, 0), wdt::kOk);
  EXPECT_EQ(Read(w), 5u);
  EXPECT_EQ(w.EnableTimer(0, 0), wdt::kBadParameter);
  EXPECT_EQ(diagnostics_,
            "InitializeSession() -> 0 (Fake\\x1b watchdog)\n"
            "EnableTimer(5, 0) -> 0\n"
            "ReadTimerValue() -> 0 (value 5)\n"
            "EnableTimer(0, 0) -> 3\n");
}

}  // namespace
