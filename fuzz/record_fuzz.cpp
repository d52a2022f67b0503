// Fuzz target over the reset record's parser, which reads a file that a
// reset may have cut short or that is not a record at all. It must never
// crash; a record it takes (of either version) must hold a window after its
// last reload and read back the same once written again; a refusal must say why in
// printable bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "property.h"
#include "record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = check::ParseRecord(text);
  if (const std::string* why = std::get_if<std::string>(&parsed)) {
    fuzz::Require(!why->empty() && fuzz::Printable(*why), "a refusal that does not say why in printable bytes");
    return 0;
  }
  const check::ResetRecord& record = std::get<check::ResetRecord>(parsed);
  fuzz::Require(record.version != 1 || (record.reloaded_at <= record.window_start &&
                                        record.window_start < record.window_end),
                "a version 1 record taken with its window out of order");
  fuzz::Require(record.window_from_s <= record.window_until_s && record.alive_s <= record.next_by_s,
                "a record taken with its window or its beats out of order");
  fuzz::Require(!record.boot_id.empty() && record.timeout_s > 0, "a record taken without its boot or timeout");
  const std::string written = check::FormatRecord(record);
  const auto again = check::ParseRecord(written);
  fuzz::Require(std::holds_alternative<check::ResetRecord>(again), "a record taken, written again, is refused");
  fuzz::Require(check::FormatRecord(std::get<check::ResetRecord>(again)) == written,
                "a record taken reads back otherwise once written again");
  return 0;
}
