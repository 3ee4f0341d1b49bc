#pragma once

#include <cstddef>
#include <string>

struct Platform;

// A list holds at most this many pods, common ones included.
inline constexpr std::size_t max_pods_per_list = 100;

// "/u", letter case ignored.
bool is_update_option(const std::string& argument);

// Announces the update, then builds list files 1 to 7 in turn; a list that
// fails is reported and the next one goes on.
void update_all_lists(Platform& platform, const std::string& root);

// Writes list file n from the common pods and those of directory n, sorted by
// name. Reports its own failures; the list file is either wholly new or as it was.
bool update_list(Platform& platform, const std::string& root, int list_number);
