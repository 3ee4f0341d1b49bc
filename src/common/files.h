#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file the platform has open; plain data, owned by whoever opened it.
struct FileHandle {
  std::intptr_t handle = -1;
};

// A file opened to be written whole, and how its contents reach the target:
// either a new file beside the target that will take its place, or, where the
// folder lets no file take its place, the target itself, rewritten in place.
struct WritingFile {
  FileHandle file;
  bool in_place = false;
  std::uint64_t old_size = 0;  // in place: the target's length before
  // The new file and the file it replaces (the one a link leads to), in the
  // platform's own spelling.
  std::string temporary_path;
  std::string target;
};

enum class OpenResult {
  opened,
  busy,     // another program holds the target for a moment: worth another try
  refused,
};

enum class ReplaceResult {
  done,
  busy,
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

  // False when `path` exists but may not be written: it is not a regular
  // file, has no write permission at all, or this user may not open it for
  // writing. One that is only busy may be. The file is not changed.
  virtual bool may_write(const std::string& path) = 0;
  // Opens `path` to be written whole. Where its folder lets a new file take
  // its place, that new file, made beside it (beside the file a link leads
  // to), with its attributes, permissions and owner. Where the folder does
  // not, but the file itself may be written, the file itself, not emptied,
  // and held against a second writer.
  virtual OpenResult open_for_writing(const std::string& path, WritingFile& writing) = 0;
  // In place, before the write, which starts at the beginning: grows the
  // file to `size` with its space reserved on the disk, or cuts it to `size`.
  virtual bool reserve(FileHandle file, std::uint64_t size) = 0;
  virtual bool cut(FileHandle file, std::uint64_t size) = 0;
  virtual bool write(FileHandle file, const char* bytes, std::size_t count) = 0;
  // Forces what was written onto the disk.
  virtual bool flush_to_disk(FileHandle file) = 0;
  // Puts the new file in the place of the target in one step: the target is
  // either old or new. The file stays open.
  virtual ReplaceResult replace(const WritingFile& writing) = 0;
  // After the flush, nothing is left for closing to lose.
  virtual void close_written(FileHandle file) = 0;
  // Closes a file that is not to be finished; a new one is removed.
  virtual void discard(const WritingFile& writing) = 0;
  // Waits before a busy file is tried again.
  virtual void pause(int milliseconds) = 0;
};

Files& system_files();
