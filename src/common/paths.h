#pragma once

#include <cstddef>
#include <string>

// Every name the program opens is composed here.

// The root path holds at most this many characters, its final backslash
// included; fewer where the platform's paths are too short for every name
// composed from such a root.
inline constexpr std::size_t max_root_path_length = 255;
std::size_t root_path_limit(std::size_t longest_path);

// Directory 0 holds the common pods; directories 1 to 7 and the list files of
// the same numbers hold one list each.
inline constexpr int common_directory = 0;
inline constexpr int first_list = 1;
inline constexpr int last_list = 7;

// The file the application reads, in the current directory.
inline constexpr const char* pod_ini_name = "pod.ini";

// The last argument with a backslash appended unless it ends in one already.
std::string make_root_path(const std::string& last_argument);

// "<root><n>.ini": the list file of list n, in the root path itself.
std::string list_file_name(const std::string& root, int list_number);

// "<root><n>": directory 0 holds the common pods, 1 to 7 those of one list.
std::string pod_directory(const std::string& root, int directory_number);

// "<directory>\*.pod": what a directory search for pods asks for.
std::string pod_search_pattern(const std::string& directory);

// "<target>.<4 hex digits>.tmp": the name a new file is written under before it
// takes the target's place. Of fixed length, so that the root path's limit holds.
std::string temporary_file_name(const std::string& target, unsigned number);
