// The kernel watchdog backend against a fake device that behaves as the
// kernel's watchdog core does: opening starts the watchdog, enabling does not
// ping, the magic flag is kept across a close of a stopped watchdog, and the
// driver may lack the time left or refuse to stop (nowayout).
#include "kernel_watchdog.h"
#include "open_policy.h"

#include <gtest/gtest.h>

#include "fake_sysfs.h"
#include "status_codes.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
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
  sysfs::DeviceNumbers numbers{250, 0};
  bool path_changes = false;     // another device is at the path by the time it is opened
  int interrupted_writes = 0;    // writes that a signal interrupts before they pass
  std::map<std::string, int> failures;  // call name -> errno it fails with

  // The device.
  bool held_open = false;
  bool active = false;
  int timeout = 60;
  int pretimeout = 0;
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
      {Request::kKeepAlive, "KEEPALIVE"}, {Request::kSetPretimeout, "SETPRETIMEOUT"},
      {Request::kGetPretimeout, "GETPRETIMEOUT"}};
  std::string name = names.at(request);
  if (request == Request::kSetOptions || request == Request::kSetTimeout || request == Request::kSetPretimeout) {
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
          if (d.pretimeout >= d.timeout) d.pretimeout = 0;  // as the core drops one that no longer fits
          d.Ping();
        }
        break;
      case Request::kSetPretimeout:
        if (*argument >= d.timeout) {
          result = -EINVAL;
        } else {
          d.pretimeout = *argument;
        }
        break;
      case Request::kGetPretimeout:
        *argument = d.pretimeout;
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

int FakeStatDevice(const char*, sysfs::DeviceNumbers* numbers) {
  const int error = g_device->Enter("stat");
  g_device->Leave();
  if (error != 0) return -error;
  *numbers = g_device->numbers;
  return g_device->character_device;
}

int FakeFstatDevice(int fd, sysfs::DeviceNumbers* numbers) {
  g_device->Enter("fstat");
  g_device->Leave();
  *numbers = g_device->numbers;
  if (g_device->path_changes) ++numbers->minor;
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

constexpr kdev::SystemCalls kFakeCalls = {.stat_device = FakeStatDevice,
                                          .open = FakeOpen,
                                          .fstat_device = FakeFstatDevice,
                                          .identify = FakeIdentify,
                                          .ioctl = FakeIoctl,
                                          .write = FakeWrite,
                                          .close = FakeClose,
                                          .now = FakeNow,
                                          .hold_signals = FakeHoldSignals};

class KernelWatchdogTest : public ::testing::Test {
 protected:
  KernelWatchdogTest() {
    g_device = &device_;
    sysfs_.AddWatchdog("watchdog0", {250, 0}, {{"identity", "Fake"}, {"nowayout", "0"}});
  }
  ~KernelWatchdogTest() override { g_device = nullptr; }

  // allow: the user's consent to a nowayout driver and a pretimeout that may panic.
  KernelWatchdog& Make(bool trace = false, bool allow = false) {
    watchdog_ = std::make_unique<KernelWatchdog>(
        "/dev/watchdog0", kFakeCalls,
        kdev::Settings{.trace = trace, .allow_nowayout = allow, .sysfs = sysfs_.Reader(), .allow_pretimeout = allow},
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
  fake::FakeSysfs sysfs_;
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
  EXPECT_EQ(StatusForErrno(Failed::kSetValue, EINVAL), wdt::kBadParameter);
  EXPECT_EQ(StatusForErrno(Failed::kSetValue, EIO), wdt::kNoCommunication);
  EXPECT_EQ(StatusForErrno(Failed::kSetValue, EOPNOTSUPP), wdt::kNoCommunication);
}

TEST(StatusForErrnoTest, EveryOtherErrnoIsNoCommunication) {
  for (const int error : {EINVAL, EBUSY, ENOENT, EACCES, EIO, ENOTTY, EFAULT, EBADF}) {
    EXPECT_EQ(StatusForErrno(Failed::kOther, error), wdt::kNoCommunication) << error;
  }
}

// --- InitializeSession --------------------------------------------------

const std::vector<std::string> kOpened = {"hold signals", "stat", "open", "fstat", "GETSUPPORT", "SETOPTIONS 1",
                                          "GETTIMEOUT", "write \n", "let signals"};
const std::vector<std::string> kLookedAt = {"hold signals", "stat", "let signals"};
const char* const kByOpening = "sysfs is not mounted; the device is identified by opening it\n";

TEST_F(KernelWatchdogTest, InitializeIdentifiesThenDisarmsAtOnceWithSignalsHeld) {
  KernelWatchdog& w = Make();
  EXPECT_EQ(w.InitializeSession(), wdt::kOk);
  EXPECT_TRUE(device_.held_open);
  EXPECT_FALSE(device_.active);
  EXPECT_EQ(device_.log, kOpened);
  EXPECT_EQ(diagnostics_, "");
}

// --- what is opened ------------------------------------------------------

// A pretimeout as sysfs shows it; a null governor: the attribute is absent.
void Pretimeout(fake::FakeSysfs& s, const char* seconds, const char* governor) {
  s.SetAttribute("watchdog", "watchdog0", "pretimeout", seconds);
  if (governor != nullptr) s.SetAttribute("watchdog", "watchdog0", "pretimeout_governor", governor);
}

void Nowayout(fake::FakeSysfs& s) { s.SetAttribute("watchdog", "watchdog0", "nowayout", "1"); }

// What the path is, is known before it is opened: only a watchdog is
// opened, and one whose driver cannot stop it, or whose pretimeout may panic
// the kernel, only with consent. The policy alone, from what stat and sysfs
// say.
struct PolicyRow {
  const char* name;
  std::function<void(fake::FakeSysfs&)> sysfs = [](fake::FakeSysfs&) {};
  sysfs::DeviceNumbers numbers{250, 0};
  int stat = 1;  // what stat_device returns
  kdev::Consent consent{};
  StatusCode status = wdt::kOk;
  std::string diagnostics{};  // the warning, with its line end
  bool identified = false;    // sysfs knows the device as a watchdog
  int pretimeout = 0;
  friend void PrintTo(const PolicyRow& row, std::ostream* os) { *os << row.name; }
};

class OpenPolicyTest : public testing::TestWithParam<PolicyRow> {
 protected:
  OpenPolicyTest() { sysfs_.AddWatchdog("watchdog0", {250, 0}, {{"identity", "Fake"}, {"nowayout", "0"}}); }
  fake::FakeSysfs sysfs_;
};

TEST_P(OpenPolicyTest, OnlyAWatchdogIsOpened) {
  const PolicyRow& row = GetParam();
  row.sysfs(sysfs_);
  kdev::Found found{.stat = row.stat};
  if (row.stat == 1) found.sysfs = sysfs_.Reader().Identify(row.numbers);
  const kdev::OpenVerdict verdict = kdev::BeforeOpening(found, row.consent);
  EXPECT_EQ(verdict.status, row.status);
  EXPECT_EQ(verdict.warning.empty() ? "" : verdict.warning + "\n", row.diagnostics);
  if (row.status == wdt::kOk) {
    EXPECT_EQ(verdict.identified, row.identified);
    EXPECT_EQ(verdict.facts.has_value(), row.identified);
    EXPECT_EQ(verdict.pretimeout, row.pretimeout);
  }
}

const char* const kPanicRefused =
    "a pretimeout of 5 s is set under the panic governor: the kernel panics 5 s before each timeout runs "
    "out, long before the time left shown reaches 0; not opened (WDT_ALLOW_PRETIMEOUT=1 opens it "
    "knowingly)\n";
const char* const kNowayoutRefused =
    "the driver was loaded with nowayout: opening the device starts the watchdog, and then nothing can "
    "stop it; not opened (WDT_ALLOW_NOWAYOUT=1 opens it knowingly)\n";

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenPolicyTest,
    testing::Values(
        PolicyRow{.name = "Watchdog", .identified = true},
        PolicyRow{.name = "LegacyNode",
                  .sysfs = [](fake::FakeSysfs& s) { s.AddDevice("misc", "watchdog", sysfs::kLegacyWatchdog); },
                  .numbers = sysfs::kLegacyWatchdog,
                  .identified = true},
        PolicyRow{.name = "NoSysfs", .sysfs = [](fake::FakeSysfs& s) { s.Unmount(); }, .diagnostics = kByOpening},
        PolicyRow{.name = "FileOrFifo", .stat = 0, .status = wdt::kNoHandle,
                  .diagnostics = "not a character device\n"},
        PolicyRow{.name = "Missing", .stat = -ENOENT, .status = wdt::kNoHandle,
                  .diagnostics = "cannot open the device: No such file or directory\n"},
        PolicyRow{.name = "NoRight", .stat = -EACCES, .status = wdt::kNoHandle,
                  .diagnostics = "cannot open the device: Permission denied\n"},
        PolicyRow{.name = "StatFails", .stat = -EIO, .status = wdt::kNoCommunication,
                  .diagnostics = "cannot open the device: Input/output error\n"},
        PolicyRow{.name = "SerialPort",
                  .sysfs = [](fake::FakeSysfs& s) { s.AddDevice("tty", "ttyS1", {4, 65}); },
                  .numbers = {4, 65},
                  .status = wdt::kNoHandle,
                  .diagnostics = "not a watchdog device (sysfs class: tty)\n"},
        PolicyRow{.name = "UnknownToSysfs", .numbers = {99, 1}, .status = wdt::kNoHandle,
                  .diagnostics = "not a watchdog device (sysfs class: none)\n"},
        PolicyRow{.name = "Nowayout", .sysfs = Nowayout, .status = wdt::kNoHandle,
                  .diagnostics = kNowayoutRefused},
        PolicyRow{.name = "NowayoutAllowed", .sysfs = Nowayout, .consent = {.nowayout = true}, .identified = true},
        PolicyRow{.name = "NowayoutPretimeoutAllowedOnly", .sysfs = Nowayout, .consent = {.pretimeout = true},
                  .status = wdt::kNoHandle, .diagnostics = kNowayoutRefused},
        PolicyRow{.name = "PretimeoutPanic", .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "5", "panic"); },
                  .status = wdt::kNoHandle, .diagnostics = kPanicRefused},
        PolicyRow{.name = "PretimeoutPanicNowayoutAllowedOnly",
                  .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "5", "panic"); },
                  .consent = {.nowayout = true},
                  .status = wdt::kNoHandle,
                  .diagnostics = kPanicRefused},
        PolicyRow{.name = "PretimeoutNoGovernorNamed",
                  .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "3", nullptr); },
                  .status = wdt::kNoHandle,
                  .diagnostics = "a pretimeout of 3 s is set and sysfs names no governor: the driver may act 3 s "
                                 "before each timeout runs out, long before the time left shown reaches 0; not "
                                 "opened (WDT_ALLOW_PRETIMEOUT=1 opens it knowingly)\n"},
        PolicyRow{.name = "PretimeoutPanicConsented",
                  .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "5", "panic"); },
                  .consent = {.pretimeout = true},
                  .identified = true,
                  .pretimeout = 5},
        PolicyRow{.name = "PretimeoutNoop", .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "5", "noop"); },
                  .identified = true, .pretimeout = 5},
        PolicyRow{.name = "PretimeoutZero", .sysfs = [](fake::FakeSysfs& s) { Pretimeout(s, "0", "panic"); },
                  .identified = true}),
    [](const auto& info) { return std::string(info.param.name); });

// The busy device's holders are named; any other failed open says only why.
TEST(OpenFailedTextTest, NamesTheHoldersOfABusyDevice) {
  const std::vector<sysfs::Holder> systemd = {{.pid = 1, .name = "systemd"}};
  EXPECT_EQ(kdev::OpenFailedText(EBUSY, systemd),
            "cannot open the device: Device or resource busy (held by systemd, pid 1)");
  EXPECT_EQ(kdev::OpenFailedText(EBUSY, {}), "cannot open the device: Device or resource busy");
  EXPECT_EQ(kdev::OpenFailedText(EACCES, systemd), "cannot open the device: Permission denied");
  EXPECT_EQ(kdev::OpenFailedText(EBUSY, {{.pid = 9, .name = "\x1b[2J"}}),
            "cannot open the device: Device or resource busy (held by \\x1b[2J, pid 9)");
}

TEST(OpenFailedTextTest, AsksAboutTheWatchdogsNodesAndThePath) {
  EXPECT_EQ(kdev::NodesToAskAbout(std::nullopt, "/dev/wd"), (std::vector<std::string>{"/dev/wd"}));
  const sysfs::Facts first{.name = "watchdog0", .device = "/dev/watchdog0"};
  EXPECT_EQ(kdev::NodesToAskAbout(first, "/dev/wd"),
            (std::vector<std::string>{"/dev/watchdog0", "/dev/watchdog", "/dev/wd"}));
}

// The same roads through the backend and the fake device: what is refused
// is never opened, what is opened is identified again and disarmed, and the
// consent reaches the policy from the settings and from AcceptPretimeout().
struct Road {
  const char* name;
  std::function<void(FakeDevice&, fake::FakeSysfs&)> setup;
  bool allow = false;   // WDT_ALLOW_NOWAYOUT=1 and WDT_ALLOW_PRETIMEOUT=1
  bool accept = false;  // AcceptPretimeout() before the open
  StatusCode status = wdt::kOk;
  std::vector<std::string> log = kOpened;
  std::string diagnostics{};  // after "wdtDLL (/dev/watchdog0): "
  friend void PrintTo(const Road& road, std::ostream* os) { *os << road.name; }
};

class OpenRoadTest : public KernelWatchdogTest, public testing::WithParamInterface<Road> {};

TEST_P(OpenRoadTest, OnlyAWatchdogIsOpened) {
  const Road& road = GetParam();
  road.setup(device_, sysfs_);
  const bool held_by_another = device_.held_open;
  KernelWatchdog& w = Make(false, road.allow);
  if (road.accept) {
    ASSERT_EQ(w.AcceptPretimeout(), wdt::kOk);
  }
  EXPECT_EQ(w.InitializeSession(), road.status);
  EXPECT_EQ(device_.log, road.log);
  EXPECT_EQ(device_.held_open, road.status == wdt::kOk || held_by_another);
  std::string expected;
  for (std::size_t start = 0; start < road.diagnostics.size();) {
    const std::size_t end = road.diagnostics.find('\n', start) + 1;
    expected += "wdtDLL (/dev/watchdog0): " + road.diagnostics.substr(start, end - start);
    start = end;
  }
  EXPECT_EQ(diagnostics_, expected);
}

void NowayoutDriver(FakeDevice& d, fake::FakeSysfs& s) {
  d.nowayout = true;
  Nowayout(s);
}

void PanicPretimeout(FakeDevice&, fake::FakeSysfs& s) { Pretimeout(s, "5", "panic"); }

INSTANTIATE_TEST_SUITE_P(
    Paths, OpenRoadTest,
    testing::Values(
        Road{.name = "Watchdog", .setup = [](FakeDevice&, fake::FakeSysfs&) {}},
        Road{.name = "NoSysfsWatchdog", .setup = [](FakeDevice&, fake::FakeSysfs& s) { s.Unmount(); },
             .diagnostics = kByOpening},
        Road{.name = "NoSysfsTerminal",
             .setup =
                 [](FakeDevice& d, fake::FakeSysfs& s) {
                   s.Unmount();
                   d.watchdog = false;
                 },
             .status = wdt::kNoHandle,
             .log = {"hold signals", "stat", "open", "fstat", "GETSUPPORT", "close", "let signals"},
             .diagnostics = kByOpening + std::string("not a watchdog device\n")},
        Road{.name = "Missing", .setup = [](FakeDevice& d, fake::FakeSysfs&) { d.failures["stat"] = ENOENT; },
             .status = wdt::kNoHandle, .log = kLookedAt,
             .diagnostics = "cannot open the device: No such file or directory\n"},
        Road{.name = "SerialPort",
             .setup =
                 [](FakeDevice& d, fake::FakeSysfs& s) {
                   d.numbers = {4, 65};
                   s.AddDevice("tty", "ttyS1", {4, 65});
                 },
             .status = wdt::kNoHandle,
             .log = kLookedAt,
             .diagnostics = "not a watchdog device (sysfs class: tty)\n"},
        Road{.name = "Nowayout", .setup = NowayoutDriver, .status = wdt::kNoHandle, .log = kLookedAt,
             .diagnostics = kNowayoutRefused},
        Road{.name = "NowayoutAllowed", .setup = NowayoutDriver, .allow = true,
             .diagnostics =
                 "the driver refuses to disarm (nowayout); the session goes on armed with its 60-second timeout\n"},
        Road{.name = "PretimeoutPanic", .setup = PanicPretimeout, .status = wdt::kNoHandle, .log = kLookedAt,
             .diagnostics = kPanicRefused},
        Road{.name = "PretimeoutPanicAllowed", .setup = PanicPretimeout, .allow = true},
        Road{.name = "PretimeoutPanicAccepted", .setup = PanicPretimeout, .accept = true},
        Road{.name = "Busy",
             .setup =
                 [](FakeDevice& d, fake::FakeSysfs& s) {
                   d.held_open = d.active = true;
                   s.AddHolder(1, "systemd", "/dev/watchdog");
                 },
             .status = wdt::kNoHandle,
             .log = {"hold signals", "stat", "open", "let signals"},
             .diagnostics = "cannot open the device: Device or resource busy (held by systemd, pid 1)\n"},
        Road{.name = "PathChanged", .setup = [](FakeDevice& d, fake::FakeSysfs&) { d.path_changes = true; },
             .status = wdt::kNoHandle,
             .log = {"hold signals", "stat", "open", "fstat", "close", "let signals"},
             .diagnostics = "the path changed while it was opened\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KernelWatchdogTest, OpenFailuresAreNoHandleAndSaySo) {
  for (const int error : {ENOENT, EACCES, EPERM, ENODEV, ENXIO}) {
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

// With consent, every road that ends says what the watchdog is left doing.
TEST_F(KernelWatchdogTest, NowayoutSaysWhenTheWatchdogLeftRunningResetsTheMachine) {
  device_.nowayout = true;
  sysfs_.SetAttribute("watchdog", "watchdog0", "nowayout", "1");
  KernelWatchdog& w = Make(false, true);
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  device_.now += 10s;
  diagnostics_.clear();
  EXPECT_EQ(w.DisableTimer(), wdt::kNoCommunication);
  w.AtExit();
  EXPECT_EQ(diagnostics_,
            "wdtDLL (/dev/watchdog0): the driver refuses to stop the watchdog (nowayout)\n"
            "wdtDLL (/dev/watchdog0): the process ends with the watchdog armed: it resets the machine in 20 "
            "seconds unless something feeds it\n");
  diagnostics_.clear();
  EXPECT_EQ(w.CloseSession(), wdt::kOk);
  w.AtExit();  // closed: nothing more to say
  EXPECT_EQ(diagnostics_,
            "wdtDLL (/dev/watchdog0): the watchdog is left running (nowayout) and resets the machine in 20 "
            "seconds unless something feeds it\n");
  EXPECT_TRUE(device_.active);
}

// Each arm says what the pretimeout in force does, or that the kernel
// dropped it; SetPretimeout sets it on the open device.
TEST_F(KernelWatchdogTest, AnArmSaysWhenThePretimeoutFires) {
  device_.pretimeout = 5;
  Pretimeout(sysfs_, "5", "noop");
  KernelWatchdog& w = Make(true);
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  diagnostics_.clear();
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(5, 0), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);  // nothing left to say
  EXPECT_EQ(w.SetPretimeout(30), wdt::kBadParameter);
  EXPECT_EQ(w.SetPretimeout(7), wdt::kOk);
  EXPECT_EQ(device_.pretimeout, 7);
  EXPECT_EQ(diagnostics_,
            "wdtDLL (/dev/watchdog0): the kernel logs a pretimeout event 25 s after each reload: pretimeout 5 s, "
            "governor noop\n"
            "EnableTimer(30, 0) -> 0\n"
            "wdtDLL (/dev/watchdog0): the kernel dropped the pretimeout of 5 s: the timeout of 5 s is not above it\n"
            "EnableTimer(5, 0) -> 0\nEnableTimer(30, 0) -> 0\nSetPretimeout(30) -> 3\nSetPretimeout(7) -> 0\n");
}

// A session opened where sysfs cannot tell knows of no pretimeout: the one
// that an earlier session set is not taken for the device's.
TEST_F(KernelWatchdogTest, AnEarlierSessionsPretimeoutIsNotCarriedIntoTheNext) {
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  ASSERT_EQ(w.SetPretimeout(7), wdt::kOk);
  ASSERT_EQ(w.DisableTimer(), wdt::kOk);
  ASSERT_EQ(w.CloseSession(), wdt::kOk);
  device_.pretimeout = 0;  // cleared by another user
  sysfs_.Unmount();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  diagnostics_.clear();
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  EXPECT_EQ(diagnostics_, "");
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
  EXPECT_EQ(w.EnableTimer(0, 0), wdt::kBadParameter);  // refused by the driver
  EXPECT_EQ(w.EnableTimer(615, 0), wdt::kBadParameter);
  EXPECT_FALSE(device_.active);
  EXPECT_EQ(w.EnableTimer(614, 0), wdt::kOk);
  EXPECT_TRUE(device_.active);
}

// Where sysfs gives the range, a timeout outside it never reaches the device.
TEST_F(KernelWatchdogTest, TimeoutOutsideTheRangeThatSysfsGivesIsRefusedUntouched) {
  sysfs_.SetAttribute("watchdog", "watchdog0", "min_timeout", "3");
  sysfs_.SetAttribute("watchdog", "watchdog0", "max_timeout", "614");
  KernelWatchdog& w = Make();
  ASSERT_EQ(w.InitializeSession(), wdt::kOk);
  ASSERT_EQ(w.EnableTimer(30, 0), wdt::kOk);
  device_.log.clear();
  EXPECT_EQ(w.EnableTimer(615, 0), wdt::kBadParameter);
  EXPECT_EQ(w.WriteTimerValue(2), wdt::kBadParameter);
  EXPECT_TRUE(device_.log.empty());
  EXPECT_EQ(diagnostics_,
            "wdtDLL (/dev/watchdog0): a timeout of 615 seconds is outside the driver's range: it takes from 3 to "
            "614 seconds\n"
            "wdtDLL (/dev/watchdog0): a timeout of 2 seconds is outside the driver's range: it takes from 3 to "
            "614 seconds\n");
  ASSERT_EQ(w.CloseSession(), wdt::kOk);
  sysfs_.SetAttribute("watchdog", "watchdog0", "max_timeout", "0");  // none: the core pings for it
  KernelWatchdog& unbounded = Make();
  ASSERT_EQ(unbounded.InitializeSession(), wdt::kOk);
  EXPECT_EQ(unbounded.EnableTimer(1000, 0), wdt::kOk);
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

// The description that wdt-check names the watchdog by comes from sysfs,
// with nothing opened: the node always, its identity, driver and whether it
// is a timer inside the kernel where sysfs knows them.
TEST_F(KernelWatchdogTest, DescribesTheDeviceFromSysfsWithoutOpeningIt) {
  EXPECT_EQ(Make().Describe(), "kind=device\nnode=/dev/watchdog0\nidentity=Fake\n");
  fake::FakeSysfs soft;
  soft.AddWatchdog("watchdog0", {250, 0}, {{"identity", "Software Watchdog"}});
  EXPECT_EQ(KernelWatchdog("/dev/watchdog0", kFakeCalls, kdev::Settings{.sysfs = soft.Reader()}, [](std::string_view) {})
                .Describe(),
            "kind=device\nnode=/dev/watchdog0\nidentity=Software Watchdog\nsoftware=1\n");
  fake::FakeSysfs hardware;
  hardware.AddWatchdog("watchdog0", {250, 0}, {{"identity", "iTCO\nwdt"}}, "iTCO_wdt");
  const KernelWatchdog device("/dev/watchdog0", kFakeCalls, kdev::Settings{.sysfs = hardware.Reader()},
                              [](std::string_view) {});
  EXPECT_EQ(device.Describe(), "kind=device\nnode=/dev/watchdog0\nidentity=iTCO\\x0awdt\ndriver=iTCO_wdt\n");
  device_.failures["stat"] = ENOENT;
  EXPECT_EQ(device.Describe(), "kind=device\nnode=/dev/watchdog0\n");
  EXPECT_TRUE(std::none_of(device_.log.begin(), device_.log.end(), [](const std::string& call) { return call == "open"; }));
}
