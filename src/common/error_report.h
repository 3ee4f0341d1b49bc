#pragma once

#include <string_view>

struct Platform;

// Shows a failure: the message, then a wait for one key so that it can be read.
// Counts it, so that the exit status can tell of it.
void report_error(Platform& platform, std::string_view message);
