// Windows whole-line output: one _write a line, nothing kept.
#include <io.h>

#include <cstdio>
#include <string_view>

#include "platform.h"

namespace platform {
namespace {

void WriteAll(FILE* stream, std::string_view text) {
  // One _write per line: the runtime holds the handle's lock for the whole
  // call, so the two threads' lines do not break each other. In text mode it
  // writes each "\n" as "\r\n", as the console expects.
  const int fd = _fileno(stream);
  if (fd < 0 || text.empty()) return;  // no such output at all
  _write(fd, text.data(), static_cast<unsigned>(text.size()));
}

}  // namespace

void Prepare() {}

void WriteOut(std::string_view text) { WriteAll(stdout, text); }

void WriteErr(std::string_view text) { WriteAll(stderr, text); }

// Every write above is done before it returns: nothing is kept.
void FinishOutput() {}

}  // namespace platform
