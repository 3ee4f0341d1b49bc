#include <ctime>

#include "common/local_date.h"

int local_weekday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return local.tm_wday;
}
