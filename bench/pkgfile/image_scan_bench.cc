// Image scan benchmark. Lays out a scratch router root whose database holds kept
// images with large opaque payloads (sparse files), then runs scanInstalledImages
// and, alternately, a baseline that opens each image and reads its first 8 KiB.
// Reports the bytes each read (/proc/self/io rchar) against the images' total size,
// medians of their run times and the ratio.
//
// usage: bench_image_scan [images [payload-MiB [rounds]]]   (defaults 200, 10, 7; root)

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "bench_support.h"
#include "pdb/repository.h"
#include "pkgfile/discovery.h"
#include "pkgtool/package_builder.h"

namespace {

// Writes an image: header and metadata parts, an opaque payload left as a hole,
// the file container and the signature part.
void writeImage(const std::string& path, const std::string& name, uint32_t payloadBytes) {
  Package identity(name);
  identity.version = 0x062A6603;
  identity.note = "kept image";
  identity.dependencies = {{"system", 0x06000000, 0, 0}};
  PartWriter head;
  head.part(PackageHeaderPart, encodeHeaderRecord(identity, true));
  head.part(NotePart, identity.note);
  head.part(DependenciesPart, encodeEntryTable(identity.dependencies));
  head.part(OpaquePayloadPart, "");
  PartWriter tail;
  tail.part(FileContainerPart, deflateBytes(encodeContainer({{"bin/" + name, 0100755, name}})));
  tail.part(SignaturePart, "");

  std::string bytes = head.file(kPackageMagic);
  writeLe32(reinterpret_cast<uint8_t*>(bytes.data()) + 4,
            static_cast<uint32_t>(bytes.size() - 8 + payloadBytes + tail.body().size()));
  writeLe32(reinterpret_cast<uint8_t*>(bytes.data()) + bytes.size() - 4, payloadBytes);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      pwrite(fd, tail.body().data(), tail.body().size(),
             static_cast<off_t>(bytes.size() + payloadBytes)) !=
          static_cast<ssize_t>(tail.body().size())) {
    perror(path.c_str());
    std::exit(1);
  }
  close(fd);
}

// The rchar field of an open /proc/<pid>/io.
unsigned long long readChars(int ioFile) {
  char text[1024];
  const ssize_t got = pread(ioFile, text, sizeof text - 1, 0);
  if (got <= 0) return 0;
  text[got] = '\0';
  const char* field = std::strstr(text, "rchar:");
  return field ? std::strtoull(field + 6, nullptr, 10) : 0;
}

// Runs work chrooted into root; value = bytes it read, less the cost of reading the
// counter itself.
bench::Sample measureReads(const std::string& root, const std::function<bool()>& work) {
  return bench::measureInChild([&](bench::Timer& time, unsigned long long& bytesRead) {
    const int ioFile = open("/proc/self/io", O_RDONLY);
    if (ioFile < 0 || chroot(root.c_str()) != 0 || chdir("/") != 0) return false;
    const unsigned long long first = readChars(ioFile);
    const unsigned long long counterCost = readChars(ioFile) - first;
    const unsigned long long before = readChars(ioFile);
    time.start();
    const bool ok = work();
    time.stop();
    bytesRead = readChars(ioFile) - before - counterCost;
    return ok;
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int images = argc > 1 ? std::atoi(argv[1]) : 200;
  const uint32_t payloadMiB = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 10;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_image_scan: needs root (chroot into a scratch root)\n");
    return 1;
  }
  bench::ScratchDirectory scratch;
  const std::string root = scratch.path();
  std::vector<std::string> names;
  unsigned long long totalSize = 0;
  for (int i = 0; i < images; ++i) {
    names.push_back("pkg" + std::to_string(i));
    const std::string directory = root + "/flash/var/pdb/" + names.back();
    std::filesystem::create_directories(directory);
    writeImage(directory + "/image", names.back(), payloadMiB << 20);
    totalSize += std::filesystem::file_size(directory + "/image");
  }

  std::vector<double> scanTimes, baselineTimes;
  unsigned long long scanBytes = 0, baselineBytes = 0;
  for (int round = 0; round < rounds; ++round) {
    const bench::Sample scan = measureReads(root, [&] {
      Repository& repository = Repository::instance();
      return scanInstalledImages(repository, "") &&
             repository.packages.size() == names.size() &&
             repository.packages.front()->note == "kept image";
    });
    const bench::Sample baseline = measureReads(root, [&] {
      std::vector<char> head(8192);
      for (const std::string& name : names) {
        std::ifstream image("/flash/var/pdb/" + name + "/image", std::ios::binary);
        if (!image.read(head.data(), head.size())) return false;
      }
      return true;
    });
    if (!scan.ok || !baseline.ok) {
      std::fprintf(stderr, "bench_image_scan: a run failed\n");
      return 1;
    }
    scanTimes.push_back(scan.time.wall);
    baselineTimes.push_back(baseline.time.wall);
    scanBytes = scan.value;
    baselineBytes = baseline.value;
  }

  std::printf("%d images of %.1f MiB each, %.1f MiB in all\n", images,
              totalSize / 1048576.0 / images, totalSize / 1048576.0);
  std::printf("scanInstalledImages read %llu bytes (%.5f%% of the total, %.0f per image)\n",
              scanBytes, 100.0 * scanBytes / totalSize, static_cast<double>(scanBytes) / images);
  std::printf("baseline (first 8 KiB of each image) read %llu bytes\n", baselineBytes);
  const double scanTime = bench::median(scanTimes);
  const double baselineTime = bench::median(baselineTimes);
  std::printf("median times over %d rounds: scan %.4f s, baseline %.4f s, ratio %.2f\n", rounds,
              scanTime, baselineTime, scanTime / baselineTime);
  return 0;
}
