#pragma once

#include <cstdint>
#include <streambuf>

#include <zlib.h>

class ChangeSet;
class InstalledPackage;
class PackageReader;

// Input stream buffer that inflates a zlib stream read from another stream buffer
// (the reader standing on a file container part). One 4096-byte buffer each for
// compressed and inflated bytes. The entries it yields are laid out as
// package_format.h describes.
class InflatingStreamBuffer : public std::streambuf {
 public:
  explicit InflatingStreamBuffer(std::streambuf* source);
  ~InflatingStreamBuffer() override;
  InflatingStreamBuffer(const InflatingStreamBuffer&) = delete;
  InflatingStreamBuffer& operator=(const InflatingStreamBuffer&) = delete;

  uint32_t total() const { return total_; }  // inflated bytes produced so far

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* out, std::streamsize count) override;
  // Relative positioning skips forward only (read and dropped); (0, cur) tells the
  // position in the inflated bytes. Positioning from the end or absolute is refused.
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which) override;

 private:
  // Inflates up to room bytes into destination; the count produced, 0 at the end of
  // the stream or on an error.
  size_t inflateInto(char* destination, size_t room);

  std::streambuf* source_;
  char outBuffer_[4096];
  char inBuffer_[4096];
  z_stream zstream_;
  bool initialised_ = false;
  uint32_t total_ = 0;
};

// Unpacks every regular file of the container part the reader stands on into a
// temporary file of the change set, records its target path in package.files and
// redraws the progress bar. False after the first failure (already reported).
bool extractFiles(InstalledPackage& package, ChangeSet& changes, PackageReader& reader);

// Redraws the status line as an "installing <name> [####   ]" bar for the reader's
// position in the package file.
void progressBar(const InstalledPackage& package, PackageReader& reader);
