#pragma once

// The local day of the week: 0 for Sunday to 6 for Saturday.
int local_weekday();
