#pragma once

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>

#include "platform/file_handles.h"

// Whole-file reads and writes of the package tool, and a file read part by part.

// Opens path for reading when it is a regular file: the descriptor, or -1 with errno
// set (EISDIR for a directory, EINVAL for anything else). A FIFO is refused at once
// rather than waited on for a writer.
int openRegularFile(const std::string& path);

// Reads the whole regular file at path into bytes. False when it cannot be read
// (errno tells why).
bool readWholeFile(const std::string& path, std::string& bytes);

// Writes bytes to path through a temporary file in the same directory that is
// renamed over path when complete, so that a failed write leaves any old file whole.
// The file gets mode 0644. False when it cannot be written (errno tells why).
bool writeWholeFile(const std::string& path, const std::string& bytes);

// A seekable input stream buffer over an open file, read in blocks of 64 KiB, so that
// a package file of any size is examined without being held. A read error ends the
// data, as a cut file would.
class FileSource : public std::streambuf {
 public:
  // Takes the descriptor over; size is the file's size in bytes.
  FileSource(int fd, uint64_t size) : file_(fd), size_(size) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t size() const { return size_; }

 protected:
  int_type underflow() override;
  // Positions from 0 up to the size only.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

 private:
  FileDescriptor file_;
  uint64_t size_;
  uint64_t bufferStart_ = 0;  // file offset of the first byte of the buffer
  char buffer_[65536];
};

// The regular file at path as a FileSource; null, with errno set, when it cannot be
// opened as one.
std::unique_ptr<FileSource> openFileSource(const std::string& path);
