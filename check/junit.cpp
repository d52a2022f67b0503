#include "junit.h"

#include "output.h"
#include "parse.h"
#include "printable.h"

namespace check {
namespace {

// Printable ASCII only (XML 1.0 takes no control characters), with the five
// that XML reserves escaped.
std::string Xml(std::string_view text) {
  std::string escaped;
  for (const char c : wdt::Printable(text)) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&apos;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::string Property(std::string_view name, std::string_view value) {
  return "      <property name=\"" + Xml(name) + "\" value=\"" + Xml(value) + "\"/>\n";
}

}  // namespace

std::string Junit(const Report& report, const Settings& settings) {
  std::size_t failures = 0;
  std::size_t skipped = 0;
  std::string properties = Property("verdict", VerdictName(report.verdict)) +
                           Property("timeout", std::to_string(settings.timeout));
  for (const auto& [name, value] : WatchdogProperties(report.watchdog)) properties += Property(name, value);
  if (!report.covers.empty()) properties += Property("covers", report.covers);
  if (!report.put_back.empty()) properties += Property("put_back", report.put_back);
  if (!report.not_put_back.empty()) properties += Property("not_put_back", report.not_put_back);
  std::string cases;
  for (const Check& check : report.checks) {
    properties += Property(check.name + ".evidence", EvidenceName(check.evidence));
    for (const Figure& figure : check.figures) properties += Property(check.name + "." + figure.name, figure.value);
    cases += "    <testcase name=\"" + Xml(check.name) + "\" classname=\"wdt-check\" time=\"" +
             wdt::Fixed(check.time_s, 3) + "\"";
    switch (check.result) {
      case Result::kPass:
        cases += ">\n      <system-out>" + Xml(check.detail) + "</system-out>\n    </testcase>\n";
        break;
      case Result::kFail:
        ++failures;
        cases += ">\n      <failure message=\"" + Xml(check.detail) + "\" type=\"fail\">" + Xml(check.detail) +
                 "</failure>\n    </testcase>\n";
        break;
      case Result::kSkip:
        ++skipped;
        cases += ">\n      <skipped message=\"" + Xml(check.detail) + "\"/>\n    </testcase>\n";
        break;
    }
  }
  const std::string counts = "tests=\"" + std::to_string(report.checks.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) +
                             "\" time=\"" + wdt::Fixed(report.duration_s, 3) + "\"";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"wdt-check\" " + counts +
         ">\n  <testsuite name=\"wdt-check\" " + counts + ">\n    <properties>\n" + properties +
         "    </properties>\n" + cases + "  </testsuite>\n</testsuites>\n";
}

}  // namespace check
