// The durable writes: a write cut short at any step leaves the previous
// reset record whole, and so does a beat written in place (real files in a
// temporary folder); each call that fails says what failed, closes what it
// opened and leaves no temporary file behind (fake calls).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "durable_file.h"
#include "record.h"
#include "record_sample.h"

namespace {

using sample::kRecord;

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
    .kind = [](const char* p) { return Step(kReal.kind, p); },
    .create_temp = [](const char* f, std::string* p) { return Step(kReal.create_temp, f, p); },
    .write = [](int fd, const char* d, std::size_t n) { return Step(kReal.write, fd, d, n); },
    .sync = [](int fd) { return Step(kReal.sync, fd); },
    .close = [](int fd) { return Step(kReal.close, fd); },
    .rename = [](const char* a, const char* b) { return Step(kReal.rename, a, b); },
    .remove = [](const char* p) { return Step(kReal.remove, p); },
    .sync_folder = [](const char* f) { return Step(kReal.sync_folder, f); },
    .open_existing = [](const char* p) { return Step(kReal.open_existing, p); },
    .write_at = [](int fd, const char* d, std::size_t n, std::size_t at) { return Step(kReal.write_at, fd, d, n, at); },
    .sync_data = [](int fd) { return Step(kReal.sync_data, fd); },
};

TEST(DurableFile, AWriteCutShortAtAnyStepLeavesThePreviousRecordWhole) {
  std::string folder_template = (std::filesystem::temp_directory_path() / "wdt-record-XXXXXX").string();
  const std::filesystem::path folder = mkdtemp(folder_template.data());
  const std::string path = (folder / "record").string();
  // Each beat replaces the one before.
  const check::ResetRecord next = sample::Beat(4.6);
  const auto on_disk = [&] {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(platform::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
  for (g_crash_at = 0; g_crash_at < 7; ++g_crash_at) {
    g_step = 0;
    EXPECT_THROW(platform::ReplaceFile(kCrashing, path, check::FormatRecord(next)), Crash);
    // Until the rename, the old record; from it on, the new one: never neither.
    EXPECT_EQ(on_disk(), check::FormatRecord(g_crash_at <= 5 ? kRecord : next)) << "crash at step " << g_crash_at;
    ASSERT_EQ(platform::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
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
    EXPECT_THROW(platform::WriteInPlace(kCrashing, path, slot.bytes, slot.offset), Crash);
    EXPECT_EQ(read_beat(), g_crash_at <= 2 ? kRecord.beat : next.beat) << "crash at step " << g_crash_at;
    ASSERT_EQ(platform::ReplaceFile(kReal, path, check::FormatRecord(kRecord)), "");
  }
  ASSERT_EQ(platform::WriteInPlace(kReal, path, slot.bytes.substr(0, slot.bytes.size() / 2), slot.offset), "");
  EXPECT_EQ(read_beat(), kRecord.beat);
  ASSERT_EQ(platform::WriteInPlace(kReal, path, slot.bytes, slot.offset), "");
  EXPECT_EQ(check::ParseRecord(on_disk()), (std::variant<check::ResetRecord, std::string>(next)));
  std::filesystem::create_directory(folder / "folder");
  EXPECT_EQ(platform::ReplaceFile(kReal, (folder / "folder").string(), "x"),
            (folder / "folder").string() + " is there and is not a regular file: refused, untouched");
  std::filesystem::remove_all(folder);
}


// Fake calls that succeed, each taking at most `most` bytes a write, but
// for the first call named `failing`, which returns `result`; every call is
// logged.
struct Fake {
  std::string failing{};
  long result = 0;
  std::size_t most = 1000;
  std::vector<std::string> calls{};
};
Fake g_fake;
constexpr int kFd = 7;

long Answer(const std::string& call, long success) {
  g_fake.calls.push_back(call);
  if (call.substr(0, call.find(' ')) != g_fake.failing) return success;
  g_fake.failing.clear();  // once: an interrupted write is made again
  return g_fake.result;
}

int Int(long value) { return static_cast<int>(value); }

long Taken(std::size_t size) { return static_cast<long>(std::min(size, g_fake.most)); }

const platform::FileCalls kFake = {
    .kind = [](const char*) { return Int(Answer("kind", platform::kRegularFile)); },
    .create_temp =
        [](const char*, std::string* path) {
          *path = "dir/.temp";
          return Int(Answer("create_temp", kFd));
        },
    .write = [](int fd, const char*, std::size_t n) { return Answer("write " + std::to_string(fd), Taken(n)); },
    .sync = [](int fd) { return Int(Answer("sync " + std::to_string(fd), 0)); },
    .close = [](int fd) { return Int(Answer("close " + std::to_string(fd), 0)); },
    .rename = [](const char* from, const char* to) { return Int(Answer("rename " + std::string(from) + " " + to, 0)); },
    .remove = [](const char* path) { return Int(Answer("remove " + std::string(path), 0)); },
    .sync_folder = [](const char* folder) { return Int(Answer("sync_folder " + std::string(folder), 0)); },
    .open_existing = [](const char*) { return Int(Answer("open_existing", kFd)); },
    .write_at =
        [](int, const char*, std::size_t n, std::size_t at) {
          return Answer("write_at " + std::to_string(std::min(n, g_fake.most)) + "@" + std::to_string(at), Taken(n));
        },
    .sync_data = [](int fd) { return Int(Answer("sync_data " + std::to_string(fd), 0)); },
};

std::string Why(int error) { return ": " + std::generic_category().message(error); }

struct Row {
  bool in_place;        // WriteInPlace of "hello" at 100, else ReplaceFile with "hello"
  std::string failing;  // the call that fails, once
  long result;
  std::string said;
  std::vector<std::string> calls{};
};

TEST(DurableFile, AFailingCallSaysWhatFailedClosesWhatItOpenedAndLeavesNoTemporaryFile) {
  const std::vector<std::string> replaced = {"kind",   "create_temp", "write 7", "sync 7", "close 7",
                                             "rename dir/.temp dir/record", "sync_folder dir"};
  const std::vector<std::string> written = {"kind", "open_existing", "write_at 5@100", "sync_data 7", "close 7"};
  const std::vector<Row> rows = {
      {false, "", 0, "", replaced},
      {false, "kind", -EACCES, "cannot look at dir/record" + Why(EACCES), {"kind"}},
      {false, "kind", platform::kOtherFile, "dir/record is there and is not a regular file: refused, untouched",
       {"kind"}},
      {false, "create_temp", -ENOSPC, "cannot make a file in dir" + Why(ENOSPC), {"kind", "create_temp"}},
      {false, "write", -EINTR, "", {"kind", "create_temp", "write 7", "write 7", "sync 7", "close 7",
                                    "rename dir/.temp dir/record", "sync_folder dir"}},
      {false, "write", -ENOSPC, "cannot write dir/.temp" + Why(ENOSPC),
       {"kind", "create_temp", "write 7", "close 7", "remove dir/.temp"}},
      {false, "write", 0, "cannot write dir/.temp" + Why(EIO),
       {"kind", "create_temp", "write 7", "close 7", "remove dir/.temp"}},
      {false, "sync", -EIO, "cannot flush dir/.temp" + Why(EIO),
       {"kind", "create_temp", "write 7", "sync 7", "close 7", "remove dir/.temp"}},
      {false, "close", -EIO, "cannot close dir/.temp" + Why(EIO),
       {"kind", "create_temp", "write 7", "sync 7", "close 7", "remove dir/.temp"}},
      {false, "rename", -EXDEV, "cannot rename dir/.temp to dir/record" + Why(EXDEV),
       {"kind", "create_temp", "write 7", "sync 7", "close 7", "rename dir/.temp dir/record", "remove dir/.temp"}},
      {false, "sync_folder", -EIO, "cannot flush the folder dir" + Why(EIO), replaced},
      {true, "", 0, "", written},
      {true, "kind", platform::kOtherFile, "dir/record is no longer a regular file: refused, untouched", {"kind"}},
      {true, "kind", platform::kNoFile, "dir/record is no longer a regular file: refused, untouched", {"kind"}},
      {true, "open_existing", -ELOOP, "cannot open dir/record" + Why(ELOOP), {"kind", "open_existing"}},
      {true, "write_at", -EINTR, "", {"kind", "open_existing", "write_at 5@100", "write_at 5@100", "sync_data 7",
                                      "close 7"}},
      {true, "write_at", -EIO, "cannot write dir/record" + Why(EIO),
       {"kind", "open_existing", "write_at 5@100", "close 7"}},
      {true, "sync_data", -EIO, "cannot flush dir/record" + Why(EIO), written},
      {true, "close", -EIO, "cannot close dir/record" + Why(EIO), written},
  };
  for (const Row& row : rows) {
    g_fake = {.failing = row.failing, .result = row.result};
    const std::string said = row.in_place ? platform::WriteInPlace(kFake, "dir/record", "hello", 100)
                                          : platform::ReplaceFile(kFake, "dir/record", "hello");
    EXPECT_EQ(said, row.said) << row.failing << " " << row.result;
    EXPECT_EQ(g_fake.calls, row.calls) << row.failing << " " << row.result;
  }
}

TEST(DurableFile, AShortWriteGoesOnWhereItStopped) {
  g_fake = {.most = 2};
  EXPECT_EQ(platform::WriteInPlace(kFake, "record", "hello", 100), "");
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"kind", "open_existing", "write_at 2@100", "write_at 2@102",
                                                    "write_at 1@104", "sync_data 7", "close 7"}));
  g_fake = {.most = 2};
  EXPECT_EQ(platform::ReplaceFile(kFake, "record", "hello"), "");
  EXPECT_EQ(g_fake.calls, (std::vector<std::string>{"kind", "create_temp", "write 7", "write 7", "write 7", "sync 7",
                                                    "close 7", "rename dir/.temp record", "sync_folder ."}));
}

}  // namespace
