// The reset record: what --expire writes is what --after-reset reads, and a
// damaged or foreign file says why (its durable write: durable_file_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <variant>

#include "record.h"
#include "record_sample.h"

namespace {

using sample::kRecord;

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
  // --suspend's keys, optional: written where set, read back where there.
  check::ResetRecord slept = kRecord;
  slept.suspend = "mem";
  slept.suspend_for_s = 25;
  slept.suspend_at_s = 0.004;
  slept.slept_s = 24.875;
  const std::string with_sleep = check::FormatRecord(slept);
  EXPECT_EQ(text.find("suspend"), std::string::npos);
  EXPECT_NE(with_sleep.find("\nsuspend mem\nsuspend_for_s 25.000\nsuspend_at_s 0.004\nslept_s 24.875\nbeat "),
            std::string::npos);
  EXPECT_EQ(std::get<check::ResetRecord>(check::ParseRecord(with_sleep)), slept);
  const check::Slot slot = check::BeatSlot(slept);
  EXPECT_EQ(with_sleep.substr(slot.offset, slot.bytes.size()), slot.bytes);
  for (const auto& [damaged, why] : std::vector<std::pair<std::string, std::string>>{
           {Changed(with_sleep, "slept_s 24.875", "slept_s -1"), "damaged: slept_s is '-1'"},
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

}  // namespace

// A dead kernel's keys are its own: written where it crashed, read back, and
// absent from every other record, which reads as before.
TEST(Record, ADeadKernelsKeysAreWrittenOnlyWhereItCrashed) {
  check::ResetRecord crashed = sample::kRecord;
  crashed.hang = "panic";
  crashed.crashed_s = 0.204;
  crashed.crashed_at = 1700000000.454;
  crashed.kernel_panic = "0";
  crashed.kernel_sysrq = "438";
  const std::string text = check::FormatRecord(crashed);
  EXPECT_NE(text.find("\nhang panic\ncrashed_s 0.204\ncrashed_at 1700000000.454\nkernel_panic 0\n"), std::string::npos);
  ASSERT_TRUE(std::holds_alternative<check::ResetRecord>(check::ParseRecord(text))) << Parsed(text);
  EXPECT_EQ(std::get<check::ResetRecord>(check::ParseRecord(text)), crashed);
  EXPECT_EQ(check::FormatRecord(sample::kRecord).find("hang"), std::string::npos);
  EXPECT_EQ(Parsed(Changed(text, "crashed_s 0.204", "crashed_s -1")), "damaged: crashed_s is '-1'");
  // A beat goes where the longer header ends.
  const check::Slot slot = check::BeatSlot(crashed);
  EXPECT_EQ(text.substr(slot.offset, slot.bytes.size()), slot.bytes);
}
