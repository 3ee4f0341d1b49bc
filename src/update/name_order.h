#pragma once

#include <string_view>

// The order of pods in a list: names compared byte by byte as unsigned values,
// with the ASCII letters a to z taken as A to Z; a name that is the start of
// another comes first. Names that differ only in letter case are equal.
bool name_before(std::string_view left, std::string_view right);
