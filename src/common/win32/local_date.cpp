#include <windows.h>

#include "common/local_date.h"

int local_weekday() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wDayOfWeek;
}
