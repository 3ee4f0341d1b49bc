#pragma once

#include <string>

class Console;
class Files;
class PodSearch;

// What a run needs of the machine, so that tests can stand in for any of it,
// how many failures the run has reported so far, and whether it tells of
// every file it dealt with ("/v").
struct Platform {
  Console& console;
  Files& files;
  PodSearch& pods;
  int (*weekday)();
  std::string (*current_folder)();
  int failures_reported = 0;
  bool verbose = false;
};
