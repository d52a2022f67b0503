#include "reset_proof/reset_proof.h"

#include <ctime>

#include "checks.h"
#include "record.h"
#include "run.h"

namespace check {

std::string WallTime(double seconds) {
  const std::time_t whole = static_cast<std::time_t>(seconds);
  char text[32] = "?";
  if (const std::tm* utc = std::gmtime(&whole)) std::strftime(text, sizeof text, "%H:%M:%S UTC", utc);
  return text;
}

bool WriteRecord(Run& run) {
  const std::string failed = run.seam().reset.write_record(FormatRecord(run.learned.record));
  if (failed.empty()) return true;
  run.End("the record was not written: " + failed);
  return false;
}

bool WriteBeat(Run& run) {
  ResetRecord& record = run.learned.record;
  ++record.beat;
  const Slot slot = BeatSlot(record);
  const std::string failed = run.seam().reset.write_in_place(slot.bytes, slot.offset);
  if (failed.empty()) return true;
  run.End("the record was not written: " + failed);
  return false;
}

void RecordHowTheWaitEnded(Run& run) {
  // A wait that a stop, a stall or a failure ended says so in the record.
  if (run.learned.recorded && run.learned.record.state == ResetRecord::State::kWaiting) {
    run.learned.record.state = ResetRecord::State::kAbandoned;
    WriteRecord(run);
  }
}

}  // namespace check
