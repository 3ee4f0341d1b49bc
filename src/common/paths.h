#pragma once

#include <cstddef>
#include <string>

// Every name the program opens is composed here.

// The root path holds at most this many characters, its final backslash included.
inline constexpr std::size_t max_root_path_length = 255;

// The file the application reads, in the current directory.
inline constexpr const char* pod_ini_name = "pod.ini";

// The last argument with a backslash appended unless it ends in one already.
std::string make_root_path(const std::string& last_argument);

// "<root><n>.ini": the list file of list n, in the root path itself.
std::string list_file_name(const std::string& root, int list_number);

// "<root><n>": directory 0 holds the common pods, 1 to 7 those of one list.
std::string pod_directory(const std::string& root, int directory_number);
