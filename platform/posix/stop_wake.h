// What the outputs (output.cpp) share with the stop signals' handlers
// (keys_signals.cpp): a descriptor that turns readable once a stop came and
// stays so, for a wait in poll to wake on; -1 where there is none.
#pragma once

namespace platform::posix {

int StopWakeDescriptor();

}  // namespace platform::posix
