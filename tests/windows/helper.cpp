// What the tests need of a second Windows program, run under Wine beside the
// program under test:
//   hold <file> <milliseconds> <marker>
//     holds <file> open, shared for reading, writing and deletion, as a virus
//     scanner or indexer would; creates <marker> once it does, and lets go
//     after <milliseconds>.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

int hold(const char* path, DWORD milliseconds, const char* marker) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  HANDLE held = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(held);
  Sleep(milliseconds);
  CloseHandle(file);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 5 && std::strcmp(argv[1], "hold") == 0) {
    return hold(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)), argv[4]);
  }
  return 64;
}
