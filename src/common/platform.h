#pragma once

class Console;
class Files;
class PodSearch;

// What a run needs of the machine, so that tests can stand in for any of it.
struct Platform {
  Console& console;
  Files& files;
  PodSearch& pods;
  int (*weekday)();
};
