#pragma once

#include <string_view>

// Every text the program writes to the console, in one place.
namespace messages {

inline constexpr std::string_view usage_line_1 = "QUORVANTIS </option> \"Path to pod sub directories\"\n";
inline constexpr std::string_view usage_line_2 = "\t/u\tUpdate pod directories.\n";
inline constexpr std::string_view usage_line_3 = "\t/n\tWhere n = directory number\n";

inline constexpr std::string_view path_too_long = "Error: path to pods is too long\n";

inline constexpr std::string_view cannot_open_ini = "Error: cannot open ini file\n";
inline constexpr std::string_view cannot_write_pod_ini = "Error: cannot write pod.ini file\n";

inline constexpr std::string_view updating = "Updating pod.ini files\n";
inline constexpr std::string_view pods_not_found = "Error: path to pods not found\n";
// Has no line end: what is written next continues on the same console line.
inline constexpr std::string_view too_many_pods = "Maximum number of PODS has been exceeded";
inline constexpr std::string_view cannot_write_list = "Error: cannot open file for writing\n";

}  // namespace messages
