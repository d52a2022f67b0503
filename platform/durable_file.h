// Writes that survive a crash or a reset at any instant, for the reset
// record and the JUnit report: portable logic over the file calls
// (FileCalls, platform.h), so that a test can make any call fail or never
// return. Each returns empty on success, else what failed, the file named.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform.h"

namespace platform {

// Replaces the file at path with contents, so that a crash or a reset at any
// instant leaves either the old file or the new one whole: a temporary file
// beside it, written and flushed, renamed over it, the folder flushed. An
// existing path that is not a regular file (a device, a folder, a link) is
// refused untouched.
std::string ReplaceFile(const FileCalls& calls, const std::string& path, std::string_view contents);

// Writes bytes at offset into the regular file at path, which is there, and
// flushes its data. A write cut short leaves the bytes around them as they
// were.
std::string WriteInPlace(const FileCalls& calls, const std::string& path, std::string_view bytes,
                         std::size_t offset);

}  // namespace platform
