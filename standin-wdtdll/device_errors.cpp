// What each errno of a device call means to the program, and in words.
#include <cerrno>
#include <system_error>

#include "device_calls.h"
#include "status_codes.h"

namespace kdev {

StatusCode StatusForErrno(Failed what, int error) {
  switch (what) {
    case Failed::kOpen:
      // No such device, no right to it, or another process holds it open.
      // A FIFO without a reader is ENXIO, a folder EISDIR.
      if (error == ENOENT || error == ENODEV || error == ENXIO || error == EACCES ||
          error == EPERM || error == EBUSY || error == EISDIR || error == ENOTDIR) {
        return wdt::kNoHandle;
      }
      break;
    case Failed::kSetValue:
      // Outside the driver's range, or a pretimeout not below the timeout.
      if (error == EINVAL) return wdt::kBadParameter;
      break;
    case Failed::kOther:
      break;
  }
  return wdt::kNoCommunication;
}

std::string ErrnoText(int error) { return std::generic_category().message(error); }

}  // namespace kdev
