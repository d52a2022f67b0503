// wdt-check --list: every watchdog that sysfs knows of, with what its driver
// says of it, read without opening any device (opening one starts it).
#pragma once

#include <string>

#include "watchdog_facts.h"

namespace check {

struct Listing {
  std::string out;  // standard output: the list, or with --json one document
  std::string err;  // standard error: why there is nothing to list
  int exit_status = 0;  // 0 watchdogs listed, 2 none
};

Listing ListWatchdogs(const sysfs::Reader& reader, bool json);

}  // namespace check
