#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>

#include "platform/file_handles.h"

// Operation of one pending change (the numbers are stored nowhere but kept stable).
enum class ChangeOp : uint32_t {
  Move = 0,      // rename the prepared file in argument to the path
  MoveTemp = 1,  // as Move; the set owns the temporary file in argument
  Symlink = 3,   // make the path a symbolic link to argument
  Delete = 4,    // delete the path (a directory with its entries)
};

struct Change {
  ChangeOp op = ChangeOp::Move;
  std::string argument;
};

// The ordered set of file changes a run produces, keyed by absolute path (byte
// order, no normalisation), at most one change per path. Nothing reaches the live
// tree until the set is applied.
class ChangeSet {
 public:
  ChangeSet() = default;
  ChangeSet(const ChangeSet&) = delete;
  ChangeSet& operator=(const ChangeSet&) = delete;

  // Enters or replaces the change for path; a replaced MoveTemp loses its file.
  void put(const std::string& path, ChangeOp op, const std::string& argument);
  void putMove(const std::string& path, const std::string& source);
  void putSymlink(const std::string& path, const std::string& target);
  // Records the deletion of path if something exists there; otherwise forgets any
  // pending change for it (deleting a temporary file the set made for it).
  void remove(const std::string& path);
  // Creates a temporary file for path (on the target's file system when it has
  // room for sizeHint plus 64 KiB, else under "/ram"), records it as MoveTemp and
  // opens out on it. mode 0 keeps the temporary file's 0600. When the temporary
  // file cannot be created nothing is recorded and out is left closed and failed.
  void createFile(std::ofstream& out, const std::string& path, uint32_t sizeHint,
                  uint32_t mode);
  // As createFile, but hands back the temporary file's descriptor, open for
  // writing; not valid (errno set, nothing recorded) when it cannot be created.
  FileDescriptor createFileDescriptor(const std::string& path, uint32_t sizeHint, uint32_t mode);
  // Deletes the temporary files of all MoveTemp changes and empties the set.
  void discard();
  // Forgets the change for path, leaving the live file as it is (a pending deletion
  // being cancelled, or a prepared file that could not be written, whose temporary
  // file is deleted).
  void erase(const std::string& path);

  bool isEmpty() const { return entries_.empty(); }
  const Change* find(const std::string& path) const;
  const std::map<std::string, Change>& entries() const { return entries_; }

 private:
  std::map<std::string, Change> entries_;
};

// The directory part of path after trailing slashes are dropped:
// "/flash/var/pdb/x/" -> "/flash/var/pdb", "/flash" -> "/", "name" -> ".", "/" -> ".".
std::string parentDirectory(const std::string& path);

// Creates path and any missing parents (mode 0777 before the umask). Reports nothing.
void makeDirectories(const std::string& path);

// Writes all of data to fd; false with errno set otherwise. A short write is carried
// on, so that a full disk comes back as its own error rather than a silent stop.
bool writeAll(int fd, const char* data, size_t size);
