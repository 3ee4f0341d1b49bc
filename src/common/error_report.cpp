#include "common/error_report.h"

#include "common/console.h"
#include "common/platform.h"

void report_error(Platform& platform, std::string_view message) {
  ++platform.failures_reported;
  platform.console.write(message);
  // A log that standard output goes to holds the message before any wait,
  // should the run be killed there.
  platform.console.flush();
  platform.console.wait_for_key(message);
}
