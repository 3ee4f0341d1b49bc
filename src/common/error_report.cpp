#include "common/error_report.h"

#include "common/console.h"

void report_error(Console& console, std::string_view message) {
  console.write(message);
  console.wait_for_key(message);
}
