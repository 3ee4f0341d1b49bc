#pragma once

#include <string>
#include <vector>

struct Platform;

// One run of the program on the user's arguments (the program's own name not
// among them). Always returns the exit status 0: failures show only as messages.
int run(const std::vector<std::string>& arguments, Platform& platform);

// The list a day of the week installs: Monday to Saturday (1 to 6) their own
// number, Sunday (0) list 7.
int list_for_weekday(int weekday);

// The list an argument selects: its second character, 1 to 7; 0 for none.
int selected_list(const std::string& argument);
