#pragma once

#include <string>
#include <string_view>

struct Platform;

// Writes pod.ini in the current directory from list file n of the root path:
// the first line as it stands, every further line with the root path in front.
// Reports its own failures; pod.ini is either wholly new or as it was. With
// "/v", tells after that what became of both files, and what chose the list.
bool install_list(Platform& platform, const std::string& root, int list_number, std::string_view chosen_by = {});
