// The kernel log's records as /dev/kmsg hands them out: the message and the
// stamp of a whole record, nothing of one that is not so written.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "kernel_log_record.h"

namespace {

struct Row {
  std::string record;
  std::optional<std::string> message;  // nothing: the record is refused
  long long microseconds = 0;
};

TEST(KernelLogRecord, GivesTheMessageAndStampOfAWholeRecordOnly) {
  const std::vector<Row> rows = {
      {"4,1021,5361234567,-;watchdog: watchdog0: pretimeout event\n", "watchdog: watchdog0: pretimeout event",
       5361234567},
      // Continuation lines are not the message; nor is a newline missing.
      {"6,7,12,-;softdog: initialized\n SUBSYSTEM=misc\n DEVICE=c10:130\n", "softdog: initialized", 12},
      {"6,7,12,-;no newline", "no newline", 12},
      // The flags field and anything after it do not matter; the stamp may
      // be the last field.
      {"6,7,12;three fields", "three fields", 12},
      {"6,7,12,-,more;five fields", "five fields", 12},
      // Commas and semicolons in the message are the message's.
      {"6,7,0,c;a, b; c\n", "a, b; c", 0},
      {"6,7,99,-;\n", "", 99},
      {"6,7,9223372036854775807,-;the largest stamp\n", "the largest stamp", 9223372036854775807},
      // Refused.
      {"", std::nullopt},
      {"no head at all\n", std::nullopt},
      {"6,7;two fields\n", std::nullopt},
      {"6;one field\n", std::nullopt},
      {"6,7,,-;empty stamp\n", std::nullopt},
      {"6,7,-12,-;signed stamp\n", std::nullopt},
      {"6,7,12x,-;stamp with junk\n", std::nullopt},
      {"6,7, 12,-;stamp with a space\n", std::nullopt},
      {"6,7,9223372036854775808,-;beyond the clock\n", std::nullopt},
      {"6,7,99999999999999999999999,-;beyond any number\n", std::nullopt},
  };
  for (const Row& row : rows) {
    const auto parsed = platform::ParseKernelLogRecord(row.record);
    ASSERT_EQ(parsed.has_value(), row.message.has_value()) << row.record;
    if (!parsed) continue;
    EXPECT_EQ(parsed->message, *row.message) << row.record;
    EXPECT_EQ(parsed->stamp.count(), row.microseconds) << row.record;
  }
}

}  // namespace
