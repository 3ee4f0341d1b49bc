#pragma once

#include <string>

// The program names files the Windows way; the file system wants slashes.
std::string native_path(const std::string& path);
