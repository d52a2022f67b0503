// A reset record as --expire writes it, a beat at alive_s, for the tests of
// the record and of its durable write.
#pragma once

#include <cstdint>

#include "record.h"

namespace sample {

inline check::ResetRecord Beat(double alive_s) {
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

inline const check::ResetRecord kRecord = Beat(4.5);

}  // namespace sample
