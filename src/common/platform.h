#pragma once

class Console;
class Files;
class PodSearch;

// What a run needs of the machine, so that tests can stand in for any of it,
// and how many failures the run has reported so far.
struct Platform {
  Console& console;
  Files& files;
  PodSearch& pods;
  int (*weekday)();
  int failures_reported = 0;
};
