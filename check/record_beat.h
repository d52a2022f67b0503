// A beat's slot in the reset record (record.h): one line of fixed width that
// says when the machine was last alive and when the next beat would be on
// disk, with a check of its own, so that a write in place cut short spoils
// only its own slot. And the record's times as it writes them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "record.h"

namespace check {

// A slot's width, its newline included.
inline constexpr std::size_t kSlotWidth = 192;

// The beat's fields of the record (beat, alive_at, alive_s, next_by_s,
// wall_step_s, state) as a slot's line.
std::string BeatLine(const ResetRecord& record);

// A slot's beat read into *record; empty, or why it is not whole.
std::string ReadBeat(std::string_view line, ResetRecord* record);

// Digits, optionally '.' and up to three digits: a time as the record writes
// it, read back; false if it is not so written. At most 15 digits, so that
// the value reads back as its text: a time to the millisecond until the year
// 33658. The value is the double nearest to the text, as from_chars reads it.
bool ReadTime(std::string_view text, double* value);

}  // namespace check
