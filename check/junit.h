// wdt-check's report as JUnit XML, the test-result format that CI servers
// read natively: one testsuite named wdt-check, one testcase per check with
// its time, a failure or a skip with its detail, the measured figures as the
// suite's properties ("countdown.seconds_per_unit").
#pragma once

#include <string>

#include "report.h"
#include "settings.h"

namespace check {

std::string Junit(const Report& report, const Settings& settings);

}  // namespace check
