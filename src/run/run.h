#pragma once

#include <string>
#include <vector>

struct Platform;

// One run of the program on the user's arguments (the program's own name not
// among them). Returns the exit status: 0, so that callers that chain on it go
// on whatever happened; 1 after a reported failure when an argument is "/e".
int run(const std::vector<std::string>& arguments, Platform& platform);

// "/e", letter case ignored: the exit status tells whether the run failed.
bool is_failure_status_option(const std::string& argument);

// "/v", letter case ignored: the run tells what became of every file it dealt with.
bool is_verbose_option(const std::string& argument);

// The list a day of the week installs: Monday to Saturday (1 to 6) their own
// number, Sunday (0) list 7.
int list_for_weekday(int weekday);

// The day's name in English, for "/v": 0 Sunday to 6 Saturday.
const char* day_name(int weekday);

// The list an argument selects: its second character, 1 to 7; 0 for none.
int selected_list(const std::string& argument);
