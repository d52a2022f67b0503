// The reset record: what --expire writes is what --after-reset reads, a
// damaged or foreign file says why, and a write cut short at any step leaves
// the previous record whole; so does a beat written in place.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <variant>

#include "record.h"

namespace {

check::ResetRecord Beat(double alive_s) {
  check::ResetRecord record;
  record.device = "/dev/watchdog0";
  record.identity = "i6300ESB timer";
  record.timeout_s = 10;
  record.boot_id = "5e1f-boot";
  record.reloaded_at = 1700000000.25;
  record.alive_at = 1700000000.25 - 3600 + alive_s;
  record.window_from_s = 9;
  record.window_until_s = 30;
  record.alive_s = alive_s;
  record.next_by_s = alive_s + 0.125;
  record.wall_step_s = -3600;
  record.beat = static_cast<std::uint64_t>(alive_s * 10);
  return record;
}
const check::ResetRecord kRecord = Beat(4.5);

// text with its first `from` made `to`.
std::string Changed(std::string text, std::string_view from, std::string_view to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

std::string Parsed(std::string_view text) {
  const auto parsed = check::ParseRecord(text);
  return std::holds_alternative<std::string>(parsed) ? std::get<std::string>(parsed) : "";
}

TEST(Record, WhatIsWrittenIsReadAndEveryDamageSaysWhy) {
  const std::string text = check::FormatRecord(kRecord);
  ASSERT_TRUE(std::holds_alternative<check::ResetRecord>(check::ParseRecord(text))) << Parsed(text);
  EXPECT_EQ(std::get<check::ResetRecord>(check::ParseRecord(text)), kRecord);
  // Version 1: wall-clock times only, its durations read from them.
  const std::string version1 =
      "wdt-check reset record\nversion 1\ndevice /dev/watchdog0\nidentity i6300ESB timer\ntimeout_s 10\n"
      "boot_id 5e1f-boot\nreloaded_at 1700000000.250\nwindow_start 1700000009.250\nwindow_end 1700000030.250\n"
      "alive_at 1700000010.500\nstate waiting\nend\n";
  const auto old = check::ParseRecord(version1);
  ASSERT_TRUE(std::holds_alternative<check::ResetRecord>(old)) << Parsed(version1);
  const check::ResetRecord& read = std::get<check::ResetRecord>(old);
  EXPECT_EQ(std::tuple(read.version, read.window_from_s, read.window_until_s, read.alive_s, read.next_by_s),
            std::tuple(1, 9.0, 30.0, 10.25, 11.25));
  EXPECT_EQ(check::FormatRecord(read), version1);
  for (const auto& [damaged, why] : std::vector<std::pair<std::string, std::string>>{
           {"", "not a reset record of wdt-check"},
           {"#!/bin/sh\n", "not a reset record of wdt-check"},
           {text.substr(0, text.size() - 4), "incomplete: it does not end where it should"},
           {text.substr(0, text.size() - 1), "incomplete: its last line has no end"},
           {text.substr(0, text.find("window_until_s")), "incomplete: no window_until_s where it belongs"},
           {Changed(text, "version 2", "version 3"), "of version 3, which this wdt-check does not know (it knows 1 and 2)"},
           {Changed(text, "timeout_s 10", "timeout_s 1e1"), "damaged: timeout_s is '1e1'"},
           {Changed(text, "boot_id 5e1f-boot", "boot_id "), "damaged: boot_id is empty"},
           {Changed(text, "window_from_s 9.000", "window_from_s 99.000"), "damaged: its window is out of order"},
           {Changed(Changed(text, "alive_s 4.500", "alive_s 4.501"), "alive_s 4.500", "alive_s 4.501"),
            "damaged: neither of its beats is whole"},
           {text + "more\n", "incomplete: it does not end where it should"},
           {Changed(version1, "window_end", "window_until_s"), "incomplete: no window_end where it belongs"},
           {Changed(version1, "window_start 1700000009.250", "window_start 1700000099.250"),
            "damaged: its window does not follow the last reload"}}) {
    EXPECT_EQ(Parsed(damaged), why) << damaged;
  }
}

// The real calls, but the one at `crash` never returns: the process ends
// there, as a reset would end it.
struct Crash {};
int g_crash_at = -1;
int g_step = 0;
template <typename Result, typename... Arguments>
Result Step(Result (*call)(Arguments...), Arguments... arguments) {
  if (g_step++ == g_crash_at) throw Crash{};
  return call(arguments...);
}
const platform::FileCalls kReal = platform::DurableFileCalls();
const platform::FileCalls kCrashing = {
    [](const char* p) { return Step(kReal.kind, p); },
    [](const char* f, std::string* p) { return Step(kReal.create_temp, f, p); },
    [](int fd, const char* d, std::size_t n) { return Step(kReal.write, fd, d, n); },
    [](int fd) { return Step(kReal.sync, fd); },
    [](int fd) { return Step(kReal.close, fd); },
    [](const char* a, const char* b) { return Step(kReal.rename, a, b); },
    [](const char* p) { return Step(kReal.remove, p); },
    [](const char* f) { return Step(kReal.sync_folder, f); },
    [](const char* p) { return Step(kReal.open_existing, p); },
    [](int fd, const char* d, std::size_t n, std::size_t at) { return Step(kReal.write_at, fd, d, n, at); },
    [](int fd) { return Step(kReal.sync_data, fd); },
};

TEST(Record, AWriteCutShortAtAnyStepLeavesThePreviousRecordWhole) {
  std::string folder_template = (std::filesystem::temp_directory_path() / "wdt-record-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(folder_template.data());
  const std::string path = (folder / "record").string();
  // Each beat replaces the one before.
  const check::ResetRecord next = Beat(4.6);
  const auto on_disk = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(check::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
  for (g_crash_at = 0; g_crash_at < 7; ++g_crash_at) {
    g_step = 0;
    EXPECT_THROW(check::ReplaceFile(kCrashing, path, check::FormatRecord(next)), Crash);
    // Until the rename, the old record; from it on, the new one: never neither.
    EXPECT_EQ(on_disk(), check::FormatRecord(g_crash_at <= 5 ? kRecord : next)) << "crash at step " << g_crash_at;
    ASSERT_EQ(check::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
  }
  // A beat in place: until its bytes are written, the beat before; a write
  // torn halfway spoils only its own slot, and the other keeps the beat before.
  const check::Slot slot = check::BeatSlot(next);
  const auto read_beat = [&] {
    const auto parsed = check::ParseRecord(on_disk());
    return std::holds_alternative<check::ResetRecord>(parsed) ? std::get<check::ResetRecord>(parsed).beat : 0;
  };
  for (g_crash_at = 0; g_crash_at < 5; ++g_crash_at) {
    g_step = 0;
    EXPECT_THROW(check::WriteInPlace(kCrashing, path, slot.bytes, slot.offset), Crash);
    EXPECT_EQ(read_beat(), g_crash_at <= 2 ? kRecord.beat : next.beat) << "crash at step " << g_crash_at;
    ASSERT_EQ(check::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
  }
  ASSERT_EQ(check::WriteInPlace(kReal, path, slot.bytes.substr(0, slot.bytes.size() / 2), slot.offset), "");
  EXPECT_EQ(read_beat(), kRecord.beat);
  ASSERT_EQ(check::WriteInPlace(kReal, path, slot.bytes, slot.offset), "");
  EXPECT_EQ(check::ParseRecord(on_disk()), (std::variant<check::ResetRecord, std::string>(next)));
  std::filesystem::create_directory(folder / "folder");
  EXPECT_EQ(check::ReplaceFile(kReal, (folder / "folder").string(), "x"),
            (folder / "folder").string() + " is there and is not a regular file: refused, untouched");
  std::filesystem::remove_all(folder);
}

}  // namespace
