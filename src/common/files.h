#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A file the platform has open; plain data, owned by whoever opened it.
struct FileHandle {
  std::intptr_t handle = -1;
  bool is_open() const { return handle != -1; }
};

// A file to be written whole. It is looked up and judged once; everything
// after that goes through the handles taken then, never through its name
// again, so that what is written is what was judged. Its contents reach it
// either through a new file beside it that takes its place, or, where no file
// may take its place, by rewriting it in place.
struct WritingFile {
  FileHandle file;      // what the new contents go to: the new file, or the target in place
  FileHandle old_file;  // the target as it was, open for reading; none where it is missing or unreadable
  bool exists = false;
  bool in_place = false;  // decided before the target is open for it
  std::uint64_t old_size = 0;  // read once the target is held against other writers
  // The platform's own: the judged target, its folder, and names within it.
  std::intptr_t judged = -1;
  std::intptr_t folder = -1;
  std::string target;          // the file that is written: a link's file rather than the link
  std::string temporary_name;  // the new file's, until it takes the target's place
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
//
// A symbolic link on the way to a file, in its folders or the file itself, is
// followed only where its owner may lead there: it belongs to the user
// running the program, to the system's administrator, or to the owner of what
// it names; and only where no other account can have put it there (on Linux,
// a folder that nobody but those may change). A file reached otherwise is
// refused, for reading and for writing alike.
class Files {
 public:
  virtual ~Files() = default;

  // The most characters a path may hold in the calls below.
  virtual std::size_t longest_path() const = 0;

  // Only a regular file is read; a device, FIFO or socket is refused at once.
  virtual bool open_for_reading(const std::string& path, FileHandle& file) = 0;
  // Reads at most `capacity` bytes; `count` is 0 at the end of the file.
  virtual bool read(FileHandle file, char* buffer, std::size_t capacity, std::size_t& count) = 0;
  virtual void close_reading(FileHandle file) = 0;
  // The next read starts from the file's beginning again.
  virtual bool rewind(FileHandle file) = 0;

  // Looks the target up and judges it: refused where it exists but may not be
  // written (not a regular file, no write permission at all, or not for this
  // user). Where it must be rewritten in place, it is opened for that and held
  // against a second writer (busy while another holds it). Otherwise nothing
  // is made yet. The old contents are open for reading where this user may
  // read them.
  virtual OpenResult look_up_for_writing(const std::string& path, WritingFile& writing) = 0;
  // After the look-up, where nothing is open for writing yet: the new file
  // beside the target, with the target's owner, group, access list,
  // attributes and mode; or, where the new file could not have all of them or
  // cannot be made, the target itself in place.
  virtual OpenResult open_for_writing(WritingFile& writing) = 0;
  // In place, before the first write: false where a file of `size` bytes would
  // pass a limit on file sizes. Where the disk can, the space is reserved
  // without changing the length, so that no reader sees bytes nobody wrote.
  virtual bool reserve(FileHandle file, std::uint64_t size) = 0;
  virtual bool cut(FileHandle file, std::uint64_t size) = 0;
  virtual bool write(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t count) = 0;
  // Forces what was written onto the disk.
  virtual bool flush_to_disk(FileHandle file) = 0;
  // Puts the new file in the place of the target in one step: the target is
  // either old or new. Done, the new file has no temporary name any more.
  virtual ReplaceResult replace(WritingFile& writing) = 0;
  // Closes all the writing holds; a new file that did not take the target's
  // place is removed.
  virtual void close(const WritingFile& writing) = 0;
  // Waits before a busy file is tried again.
  virtual void pause(int milliseconds) = 0;
  // What "/v" tells of how files are reached on this run, a line; mostly nothing.
  virtual std::string verbose_note() const { return {}; }
};

Files& system_files();
