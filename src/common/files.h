#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file the platform has open; plain data, owned by whoever opened it.
struct FileHandle {
  std::intptr_t handle = -1;
};

enum class ReplaceResult {
  done,
  busy,    // another program holds the target for a moment: worth another try
  failed,
};

// File access by name. Names are composed the Windows way, with backslashes;
// each platform maps them to its own file system. Every call reports success.
class Files {
 public:
  virtual ~Files() = default;

  // The most characters a path may hold in the calls below.
  virtual std::size_t longest_path() const = 0;

  virtual bool open_for_reading(const std::string& path, FileHandle& file) = 0;
  // Reads at most `capacity` bytes; `count` is 0 at the end of the file.
  virtual bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) = 0;
  virtual void close_reading(FileHandle file) = 0;

  // False when `path` exists but may not be replaced: it is not a regular
  // file, is read-only, or this user may not write it. One that is only busy
  // may be. The file is not changed.
  virtual bool may_write(const std::string& path) = 0;
  // Creates a new, empty file beside `path`, under a temporary name of its own,
  // that will take over the attributes, permissions and owner of `path`.
  virtual bool create_beside(const std::string& path, FileHandle& file, std::string& temporary_path) = 0;
  virtual bool write(FileHandle file, const char* bytes, std::size_t count) = 0;
  // Forces what was written onto the disk.
  virtual bool flush_to_disk(FileHandle file) = 0;
  virtual bool close_written(FileHandle file) = 0;
  // Puts `from` in the place of `to` in one step: `to` is either old or new.
  virtual ReplaceResult replace(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
  // Waits before a busy file is tried again.
  virtual void pause(int milliseconds) = 0;
};

Files& system_files();
