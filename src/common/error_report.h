#pragma once

#include <string_view>

class Console;

// Shows a failure: the message, then a wait for one key so that it can be read.
void report_error(Console& console, std::string_view message);
