#include "hostile/hostile_support.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include "pkgfile/package_format.h"
#include "pkgtool/package_builder.h"
#include "support/signed_packages.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

// One MiB of zeros, deflated raw and fully flushed: it refers to nothing before it
// and ends on a byte boundary, so copies of it can follow each other.
const std::string& flushedMebibyte() {
  static const std::string block = [] {
    std::string zeros(kMiB, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, kMiB) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FULL_FLUSH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
  }();
  return block;
}

}  // namespace

RunResult bounded(std::vector<std::string> argv, const std::string& stdinData) {
  argv.insert(argv.begin(), {"/usr/bin/timeout", "60"});
  // Not on ARM either: the tests run there under qemu-arm, which reserves the
  // guest's whole address space and a large code buffer of its own.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__arm__)
  argv.insert(argv.begin(), {"/usr/bin/prlimit", "--as=" + std::to_string(64 * kMiB), "--"});
#endif
  return runProgram(argv, stdinData);
}

ZeroStream::ZeroStream() : out_("\x78\x9c"), adler_(adler32(0, nullptr, 0)) {}

void ZeroStream::bytes(std::string_view data) {
  adler_ = adler32_z(adler_, reinterpret_cast<const Bytef*>(data.data()), data.size());
  do {
    const auto length = static_cast<uint16_t>(std::min<size_t>(data.size(), 65535));
    uint8_t head[5] = {0};
    writeLe16(head + 1, length);
    writeLe16(head + 3, static_cast<uint16_t>(~length));
    out_.append(reinterpret_cast<const char*>(head), sizeof head).append(data.substr(0, length));
    data.remove_prefix(length);
  } while (!data.empty());
}

void ZeroStream::zeros(uint64_t count) {
  const unsigned long mebibyte = ((kMiB % 65521) << 16) | 1;  // Adler-32 of 1 MiB of zeros
  for (uint64_t done = 0; done < count; done += kMiB) {
    out_ += flushedMebibyte();
    adler_ = adler32_combine64(adler_, mebibyte, kMiB);
  }
}

std::string ZeroStream::finish() const {
  std::string stream = out_ + std::string("\x01\x00\x00\xff\xff", 5);
  for (int shift = 24; shift >= 0; shift -= 8) stream += static_cast<char>(adler_ >> shift);
  return stream;
}

std::string entryHead(const std::string& name, uint32_t dataLength) {
  uint8_t bytes[kContainerEntryHeaderSize];
  encodeContainerEntryHeader({kRegularFileType | 0644, 0, dataLength,
                              static_cast<uint16_t>(name.size())}, bytes);
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes) + name;
}

std::string signedWithContainer(const std::string& container, const std::string& name) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(packageLayout(name, 0x062A6600).meta, true));
  writer.part(FileContainerPart, container);
  std::string file = writer.file(kPackageMagic);
  EXPECT_EQ(signPackageFile(file, developmentKeys(), {}), SignStatus::Signed);
  return file;
}
