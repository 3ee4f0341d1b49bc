#pragma once

#include <termios.h>

// Reads one key at `terminal` (in the foreground, in mode `before`) with echo,
// line editing and the signal keys off. The terminal gets `before` back after
// the key, and also when a signal ends or stops the program during the wait;
// a stopped program takes up the wait again when it is continued.
void read_key_in_raw_mode(int terminal, const termios& before);
