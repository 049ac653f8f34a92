// Extraction benchmark. Builds package files of mixed content in /tmp, then runs
// extractFiles (as an install does: digesting reader, files into change-set temporary
// files inside a scratch router root) and, alternately, plain zlib inflation of the
// same container stream into a discarded buffer. Reports medians, their ratio, and
// the peak resident set of the extraction for a small and a large package.
//
// usage: bench_extract [large-MiB [rounds]]   (defaults 200 and 5; must run as root)

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <fstream>

#include "bench_support.h"
#include "changes/change_set.h"
#include "pdb/repository.h"
#include "pkgfile/file_container.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/package_builder.h"

namespace {

struct PackageOnDisk {
  std::string path;
  uint64_t containerOffset = 0;  // of the type-4 payload
  uint64_t containerLength = 0;
  uint64_t inflatedBytes = 0;
  size_t files = 0;
};

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  size_t below(size_t bound) { return static_cast<size_t>(next() % bound); }

 private:
  uint64_t state_;
};

// File contents that deflate like a real file tree: runs of text-like words with
// stretches of incompressible bytes (already compressed data, executables' tables).
std::string fileContent(Random& random, size_t size) {
  static const char* const kWords[] = {"interface", "bridge", "address", "route", "0x00",
                                       "static",    "return", "config",  "\n",    "  ",
                                       "firewall",  "{",      "}",       "=",     "vlan"};
  std::string data;
  data.reserve(size);
  while (data.size() < size) {
    if (random.below(3) == 0) {
      for (size_t i = 0; i < 4096 && data.size() < size; i += 8) {
        const uint64_t word = random.next();
        data.append(reinterpret_cast<const char*>(&word), std::min<size_t>(8, size - data.size()));
      }
    } else {
      for (size_t i = 0; i < 512 && data.size() < size; ++i) data += kWords[random.below(15)];
    }
  }
  data.resize(size);
  return data;
}

size_t fileSize(Random& random) {
  const size_t kind = random.below(100);
  if (kind < 70) return 1024 + random.below(63 * 1024);
  if (kind < 95) return 64 * 1024 + random.below(960 * 1024);
  return 1024 * 1024 + random.below(7 * 1024 * 1024);
}

// Streams a package of about targetBytes of inflated file data to path.
PackageOnDisk writePackage(const std::string& path, uint64_t targetBytes, uint64_t seed) {
  PackageOnDisk result;
  result.path = path;
  std::fstream out(path, std::ios::out | std::ios::in | std::ios::trunc | std::ios::binary);
  Package identity("bench");
  identity.version = 0x01006600;
  PartWriter head;
  head.part(PackageHeaderPart, encodeHeaderRecord(identity, true));
  head.part(FileContainerPart, "");  // its length is patched in at the end
  out << head.file(kPackageMagic);
  result.containerOffset = out.tellp();

  z_stream z{};
  deflateInit(&z, 6);
  std::vector<char> buffer(1 << 18);
  const auto feed = [&](const std::string& bytes, int flush) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    int result = Z_OK;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buffer.data());
      z.avail_out = static_cast<uInt>(buffer.size());
      result = deflate(&z, flush);
      out.write(buffer.data(), buffer.size() - z.avail_out);
    } while (flush == Z_FINISH ? result == Z_OK : z.avail_out == 0);
  };
  Random random(seed);
  for (size_t n = 0; result.inflatedBytes < targetBytes; ++n) {
    ContainerEntry entry;
    entry.name = "lib/d" + std::to_string(n % 40) + "/f" + std::to_string(n);
    if (n % 50 == 7) {
      entry.mode = 040755;  // a directory now and then
    } else if (n % 50 == 9) {
      entry.mode = 0120777;
      entry.data = "../f1";
    } else {
      entry.mode = n % 3 ? 0100644 : 0100755;
      entry.data = fileContent(random, fileSize(random));
      ++result.files;
    }
    const std::string bytes = encodeContainer({entry});
    result.inflatedBytes += bytes.size();
    feed(bytes, Z_NO_FLUSH);
  }
  feed("", Z_FINISH);
  deflateEnd(&z);
  result.containerLength = static_cast<uint64_t>(out.tellp()) - result.containerOffset;
  PartWriter tail;
  tail.part(SignaturePart, "");
  out << tail.body();

  uint8_t word[4];
  writeLe32(word, static_cast<uint32_t>(result.containerLength));
  out.seekp(result.containerOffset - 4);
  out.write(reinterpret_cast<const char*>(word), 4);
  writeLe32(word,
            static_cast<uint32_t>(static_cast<uint64_t>(out.seekp(0, std::ios::end).tellp()) - 8));
  out.seekp(4);
  out.write(reinterpret_cast<const char*>(word), 4);
  return result;
}

// extractFiles inside root (the package at root + "/pkg.zpk"), as an install runs it
// (digesting), or with a reader that only reads.
bench::Sample runExtraction(const std::string& root, bool digesting) {
  return bench::measureInChild([&](bench::Timer& time, unsigned long long& files) {
    const int null = open("/dev/null", O_WRONLY);
    if (chroot(root.c_str()) != 0 || chdir("/") != 0) return false;
    dup2(null, STDOUT_FILENO);  // the progress bar is drawn, but not onto the console
    time.start();
    std::ifstream in("/pkg.zpk", std::ios::binary);
    PackageReader reader(in, digesting);
    for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.wantPart(type);
    reader.nextPart();
    if (reader.nextPart() != FileContainerPart) return false;
    InstalledPackage package("bench");
    package.version = 0x01006600;
    ChangeSet changes;
    const bool ok = extractFiles(package, changes, reader);
    time.stop();
    files = package.files.size();
    changes.discard();
    return ok;
  });
}

// The same container stream inflated by plain zlib into a buffer that is thrown away.
bench::Sample runInflation(const PackageOnDisk& package) {
  return bench::measureInChild([&](bench::Timer& time, unsigned long long& inflated) {
    time.start();
    const int fd = open(package.path.c_str(), O_RDONLY);
    if (fd < 0 || lseek(fd, static_cast<off_t>(package.containerOffset), SEEK_SET) < 0)
      return false;
    z_stream z{};
    inflateInit(&z);
    std::vector<char> in(1 << 16), out(1 << 16);
    uint64_t left = package.containerLength;
    int result = Z_OK;
    while (left != 0 && result == Z_OK) {
      const ssize_t got = read(fd, in.data(), std::min<uint64_t>(left, in.size()));
      if (got <= 0) break;
      left -= static_cast<uint64_t>(got);
      z.next_in = reinterpret_cast<Bytef*>(in.data());
      z.avail_in = static_cast<uInt>(got);
      do {
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        result = inflate(&z, Z_NO_FLUSH);
        inflated += out.size() - z.avail_out;
      } while (z.avail_out == 0 && result == Z_OK);
    }
    inflateEnd(&z);
    close(fd);
    time.stop();
    return result == Z_STREAM_END;
  });
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t largeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_extract: needs root (chroot into a scratch root)\n");
    return 1;
  }
  bench::ScratchDirectory scratch;
  const std::string root = scratch.path() + "/root";
  for (const char* directory : {"", "/flash", "/ram", "/rw"})
    std::filesystem::create_directories(root + directory);
  // The flash of the scratch root is a tmpfs when mounting is allowed, so that what
  // is measured is the extraction and not the block allocator of the machine's disk.
  const bool onTmpfs = mount("tmpfs", (root + "/flash").c_str(), "tmpfs", 0, "size=1g") == 0;
  struct Unmount {
    std::string path;
    bool active;
    ~Unmount() {
      if (active) umount2(path.c_str(), MNT_DETACH);
    }
  } unmount{root + "/flash", onTmpfs};
  std::printf("scratch root flash on %s\n", onTmpfs ? "a tmpfs" : "the machine's disk");

  struct Size {
    uint64_t mib = 0;
    PackageOnDisk package;
    std::vector<double> extract[2], extractCpu[2], inflate, inflateCpu;
    long peakRssKb = 0;
    long inflatePeakRssKb = 0;
  };
  std::vector<Size> sizes(2);
  sizes[0].mib = 20;
  sizes[1].mib = largeMiB;
  for (Size& size : sizes) {
    // Generation runs in a child of its own so that this process stays small.
    const std::string path = root + "/pkg.zpk";
    const std::string facts = scratch.path() + "/facts";
    bench::measureInChild([&](bench::Timer&, unsigned long long&) {
      const PackageOnDisk made = writePackage(path, size.mib << 20, 0x9E3779B97F4A7C15ull);
      std::ofstream(facts) << made.containerOffset << ' ' << made.containerLength << ' '
                           << made.inflatedBytes << ' ' << made.files;
      return true;
    });
    size.package.path = path;
    std::ifstream(facts) >> size.package.containerOffset >> size.package.containerLength >>
        size.package.inflatedBytes >> size.package.files;
    struct stat info {};
    stat(path.c_str(), &info);
    std::printf("package %llu MiB: %zu files, %.1f MiB inflated, %.1f MiB on disk\n",
                static_cast<unsigned long long>(size.mib), size.package.files,
                size.package.inflatedBytes / 1048576.0, info.st_size / 1048576.0);

    const int count = &size == &sizes.back() ? rounds : 1;
    for (int round = 0; round < count; ++round) {
      // Alternately: the install's digesting extraction, one without digest, and
      // plain inflation.
      for (const bool digesting : {true, false}) {
        const bench::Sample extraction = runExtraction(root, digesting);
        if (!extraction.ok || extraction.value != size.package.files) {
          std::fprintf(stderr, "bench_extract: an extraction failed\n");
          return 1;
        }
        size.extract[digesting].push_back(extraction.time.wall);
        size.extractCpu[digesting].push_back(extraction.time.cpu);
        size.peakRssKb = std::max(size.peakRssKb, extraction.peakRssKb);
      }
      const bench::Sample inflation = runInflation(size.package);
      if (!inflation.ok) {
        std::fprintf(stderr, "bench_extract: the inflation failed\n");
        return 1;
      }
      size.inflate.push_back(inflation.time.wall);
      size.inflateCpu.push_back(inflation.time.cpu);
      size.inflatePeakRssKb = std::max(size.inflatePeakRssKb, inflation.peakRssKb);
    }
    unlink(path.c_str());
  }

  const Size& large = sizes.back();
  std::printf("%llu MiB package, %d rounds, medians (wall / processor time):\n",
              static_cast<unsigned long long>(large.mib), rounds);
  const double inflate = bench::median(large.inflate);
  const double inflateCpu = bench::median(large.inflateCpu);
  for (const bool digesting : {true, false}) {
    const double extract = bench::median(large.extract[digesting]);
    const double extractCpu = bench::median(large.extractCpu[digesting]);
    std::printf("  extractFiles, %-18s %.3f s / %.3f s, ratio to inflation %.2f / %.2f\n",
                digesting ? "digesting reader:" : "reader only reads:", extract, extractCpu,
                extract / inflate, extractCpu / inflateCpu);
  }
  std::printf("  plain zlib inflation, same stream: %.3f s / %.3f s (goal: ratio <= 1.3)\n",
              inflate, inflateCpu);
  for (const Size& size : sizes)
    std::printf("peak RSS, %llu MiB package: extraction %ld KiB, plain inflation %ld KiB\n",
                static_cast<unsigned long long>(size.mib), size.peakRssKb, size.inflatePeakRssKb);
  return 0;
}
