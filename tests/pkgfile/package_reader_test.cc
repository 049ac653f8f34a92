#include "pkgfile/package_reader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>

#include "pkgtool/package_builder.h"

namespace {

// An in-memory source that counts the bytes it hands out; unseekable, it behaves
// like a pipe.
class MemorySource : public std::streambuf {
 public:
  MemorySource(std::string data, bool seekable) : data_(std::move(data)), seekable_(seekable) {}
  size_t bytesRead = 0;

 protected:
  std::streamsize xsgetn(char* out, std::streamsize count) override {
    const size_t n = at_ < data_.size() ? data_.copy(out, count, at_) : 0;
    at_ += n;
    bytesRead += n;
    return static_cast<std::streamsize>(n);
  }
  pos_type seekoff(off_type offset, std::ios_base::seekdir, std::ios_base::openmode) override {
    if (!seekable_) return pos_type(off_type(-1));
    at_ += offset;
    return pos_type(off_type(at_));
  }

 private:
  std::string data_;
  size_t at_ = 0;
  bool seekable_;
};

// A reader over a file held in memory, wanting the given part types.
struct Reading {
  Reading(const std::string& file, bool digesting, std::initializer_list<uint32_t> wanted,
          std::streambuf* tee = nullptr)
      : in(file), reader(in, digesting, tee) {
    for (const uint32_t type : wanted) reader.wantPart(type);
  }
  std::istringstream in;
  PackageReader reader;
};

// Independent digest of file[begin, end), straight from libcrypto.
std::string expectedDigest(const EVP_MD* algorithm, const std::string& file, size_t begin,
                           size_t end) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_Digest(file.data() + begin, end - begin, out, &size, algorithm, nullptr);
  return std::string(reinterpret_cast<char*>(out), size);
}

std::string finishedDigest(PackageReader& reader, size_t size) {
  reader.parts().finishDigest();
  return std::string(reinterpret_cast<const char*>(reader.parts().digestValue()), size);
}

Package meta(const std::string& name) {
  Package package(name);
  package.version = 0x01006600;
  package.flags = 7;
  return package;
}

PackageLayout packageSpec(const std::string& name, uint32_t signatureLength = 0) {
  PackageLayout layout;
  layout.meta = meta(name);
  layout.files = {{"bin/" + name, 0100755, std::string(40000, 'x')}};
  layout.signatureLength = signatureLength;
  return layout;
}

TEST(PackageReader, ReadsBothMagicValuesAndNothingElse) {
  const std::string good = buildPackageFile(packageSpec("dhcp"));
  const std::string alt = buildPackageFile(packageSpec("dhcp"), kAltPackageMagic);
  for (const std::string& file :
       {good, alt, good.substr(0, 7), "\x11\x22\x33\x44" + good.substr(4)}) {
    Reading reading(file, true, {PackageHeaderPart});
    PackageReader& reader = reading.reader;
    const bool readable = file == good || file == alt;
    EXPECT_EQ(reader.magic, file.size() < 8
                                ? 0xFFFFFFFFu
                                : readLe32(reinterpret_cast<const uint8_t*>(file.data())));
    EXPECT_EQ(reader.bad(), !readable);
    EXPECT_EQ(reader.nextPart(), readable ? PackageHeaderPart : -1);
    Package package;
    EXPECT_EQ(readHeader(package, reader), readable);
    if (readable) {
      EXPECT_EQ(reader.declaredSize, file.size());
    }
  }
}

TEST(PackageReader, HeaderRecordsOf32To40Bytes) {
  const std::string record = encodeHeaderRecord(meta("abcdefghijklmnop"), false);
  const std::string withFlags = encodeHeaderRecord(meta("abcdefghijklmnop"), true);
  for (const std::string& payload : {record, withFlags, withFlags + "\x55\x55\x55\x55"}) {
    PartWriter writer;
    writer.part(PackageHeaderPart, payload);
    writer.part(NotePart, "hello");
    Reading reading(writer.file(kPackageMagic), true, {PackageHeaderPart, NotePart});
    reading.reader.nextPart();
    Package package;
    ASSERT_TRUE(readHeader(package, reading.reader)) << payload.size();
    EXPECT_EQ(package.name, "abcdefghijklmnop");
    EXPECT_EQ(package.flags, payload == record ? 0u : 7u);
    EXPECT_EQ(package.note, "hello");
    EXPECT_EQ(package.architecture, "i386");
  }
}

TEST(PackageReader, UnwantedPartsBetweenMetadataArePassedOver) {
  const std::vector<DependencyEntry> entries = {{"system", 0x06000000, 0x07000000, -3},
                                                {"abcdefghijklmnop", 1, 0, 5}};
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(meta("wireless"), true));
  writer.part(Text24Part, "t24");
  writer.part(99, "junk");
  writer.part(ArchitecturePart, "mipsbe");
  writer.part(BundleEntryTablePart, encodeEntryTable(entries));
  writer.part(Text2Part, "t2");
  writer.part(NotePart, "a note");
  writer.part(DependenciesPart, encodeEntryTable(entries));
  writer.part(ProvidesPart, encodeEntryTable({entries[1]}));
  writer.part(ConflictsPart, encodeEntryTable({entries[0]}) + "trailing");
  writer.part(OpaquePayloadPart, "payload");
  Reading reading(writer.file(kPackageMagic), true, {18, 1, 24, 16, 2, 23, 3, 19, 17, 21});
  reading.reader.nextPart();
  Package package;
  ASSERT_TRUE(readHeader(package, reading.reader));
  EXPECT_EQ(package.part24Text + package.architecture + package.part2Text + package.note,
            "t24mipsbet2a note");
  ASSERT_EQ(package.dependencies.size(), 2u);
  EXPECT_EQ(package.dependencies[0].maxVersion, 0x07000000u);
  EXPECT_EQ(package.dependencies[0].priority, -3);
  EXPECT_EQ(package.dependencies[1].name, "abcdefghijklmnop");
  ASSERT_EQ(package.provides.size(), 1u);
  ASSERT_EQ(package.conflicts.size(), 1u);
  EXPECT_EQ(package.conflicts[0].minVersion, 0x06000000u);
  EXPECT_TRUE(package.hasOpaquePayload);
  EXPECT_EQ(reading.reader.currentPart, OpaquePayloadPart);
}

TEST(PackageReader, MetadataOutOfOrderEndsTheMetadata) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(meta("dhcp"), false));
  writer.part(NotePart, "note");
  writer.part(ArchitecturePart, "arm");
  Reading reading(writer.file(kPackageMagic), true, {1, 16, 23});
  reading.reader.nextPart();
  Package package;
  ASSERT_TRUE(readHeader(package, reading.reader));
  EXPECT_EQ(package.note, "note");
  EXPECT_EQ(package.architecture, "i386");
  EXPECT_EQ(reading.reader.currentPart, ArchitecturePart);
}

TEST(PackageReader, CutDataEndsTheReaderForGood) {
  const std::string file = buildPackageFile(packageSpec("dhcp"));
  const size_t signatureHeader = file.size() - 6;
  for (const bool digesting : {true, false}) {
    for (const size_t cut : {signatureHeader + 3, signatureHeader - 100}) {
      Reading reading(file.substr(0, cut), digesting, {PackageHeaderPart, SignaturePart});
      PackageReader& reader = reading.reader;
      EXPECT_EQ(reader.nextPart(), PackageHeaderPart);
      EXPECT_EQ(reader.nextPart(), -1);
      EXPECT_TRUE(reader.fail());
      reader.clear();
      EXPECT_EQ(reader.nextPart(), -1);
    }
  }
  // Reading beyond the end of a part fails the stream, which also ends the reader.
  Reading reading(file, true, {PackageHeaderPart, FileContainerPart});
  reading.reader.nextPart();
  char record[37];
  EXPECT_TRUE(reading.reader.read(record, sizeof record).fail());
  EXPECT_EQ(reading.reader.nextPart(), -1);
  reading.reader.clear();
  EXPECT_EQ(reading.reader.nextPart(), -1);
}

TEST(PackageReader, DigestRunsFromTheLastPackageHeaderToTheSignatureHeader) {
  for (const DigestSwitch where :
       {DigestSwitch::None, DigestSwitch::BeforeHeader, DigestSwitch::AfterHeader}) {
    PartWriter writer;
    if (where == DigestSwitch::BeforeHeader) writer.part(DigestSwitchPart, "");
    size_t begin = 8 + writer.body().size();
    writer.part(PackageHeaderPart, encodeHeaderRecord(meta("dhcp"), true));
    writer.part(NotePart, "note");
    if (where == DigestSwitch::AfterHeader) {
      begin = 8 + writer.body().size();
      writer.part(DigestSwitchPart, "");
    }
    writer.part(OpaquePayloadPart, std::string(50000, 'p'));
    writer.part(FileContainerPart, deflateBytes(encodeContainer({})));
    writer.part(SignaturePart, std::string(68, 's'));
    const std::string file = writer.file(kPackageMagic);

    Reading reading(file, true, {PackageHeaderPart, SignaturePart});
    reading.reader.nextPart();
    ASSERT_EQ(reading.reader.nextPart(), SignaturePart);
    const bool sha1 = where == DigestSwitch::None;
    EXPECT_EQ(finishedDigest(reading.reader, sha1 ? 20 : 32),
              expectedDigest(sha1 ? EVP_sha1() : EVP_sha256(), file, begin, file.size() - 68));
  }
}

TEST(PackageReader, EachMemberHeaderClosesTheDigestOfTheMemberBefore) {
  BundleLayout bundle;
  bundle.meta = meta("routeros");
  bundle.members = {packageSpec("system", 4), packageSpec("dhcp", 4)};
  const std::string file = buildBundleFile(bundle);
  const size_t second = file.size() - encodePackageParts(bundle.members[1]).size();
  const size_t first = second - encodePackageParts(bundle.members[0]).size();

  Reading reading(file, true, {18, 1, 9});
  PackageReader& reader = reading.reader;
  for (const int type : {18, 1, 9}) ASSERT_EQ(reader.nextPart(), type);
  // Signature bytes are taken without entering the digest.
  char signature[8];
  EXPECT_EQ(reader.parts().readUndigested(signature, sizeof signature), 4);
  EXPECT_EQ(reader.partRemaining(), 0u);
  ASSERT_EQ(reader.nextPart(), PackageHeaderPart);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.parts().digestValue()), 20),
            expectedDigest(EVP_sha1(), file, first, second - 4));
  ASSERT_EQ(reader.nextPart(), SignaturePart);
  EXPECT_EQ(finishedDigest(reader, 20), expectedDigest(EVP_sha1(), file, second, file.size() - 4));
}

TEST(PackageReader, GivenBackBytesAreDigestedAndTeedOnce) {
  const std::string file = buildPackageFile(packageSpec("dhcp", 68));
  std::stringbuf tee;
  Reading reading(file, true, {1, 4, 9}, &tee);
  PackageReader& reader = reading.reader;
  reader.nextPart();
  ASSERT_EQ(reader.nextPart(), FileContainerPart);
  EXPECT_TRUE(reader.unget().bad());  // nothing of the part taken yet
  reader.clear();
  const int first = reader.get();
  ASSERT_TRUE(reader.unget());
  EXPECT_EQ(reader.get(), first);
  char two[2], again = 0;
  reader.read(two, 2);
  reader.putback(two[1]);
  reader.read(&again, 1);
  EXPECT_EQ(again, two[1]);
  ASSERT_EQ(reader.nextPart(), SignaturePart);
  EXPECT_EQ(finishedDigest(reader, 20), expectedDigest(EVP_sha1(), file, 8, file.size() - 68));
  char signature[68];
  reader.parts().readUndigested(signature, sizeof signature);
  EXPECT_EQ(reader.nextPart(), -1);
  EXPECT_EQ(tee.str(), file);
}

TEST(PackageReader, PositioningInsideAPart) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(meta("dhcp"), true));
  writer.part(FileContainerPart, "0123456789");
  const std::string file = writer.file(kPackageMagic);
  for (const bool digesting : {true, false}) {
    Reading reading(file, digesting, {FileContainerPart});
    PackageReader& reader = reading.reader;
    ASSERT_EQ(reader.nextPart(), FileContainerPart);
    EXPECT_EQ(reader.parts().partStart(), 8u + 6 + 36 + 6);
    EXPECT_EQ(static_cast<std::streamoff>(reader.seekg(4).tellg()), 4);
    EXPECT_EQ(reader.get(), '4');
    EXPECT_EQ(static_cast<std::streamoff>(reader.seekg(2, std::ios_base::cur).tellg()), 7);
    EXPECT_TRUE(reader.seekg(0, std::ios_base::end).fail());
    reader.clear();
    EXPECT_TRUE(reader.seekg(11).fail());
    reader.clear();
    // Bytes that went into the digest cannot be taken again.
    EXPECT_EQ(reader.seekg(1).fail(), digesting);
    reader.clear();
    EXPECT_EQ(reader.get(), digesting ? '7' : '1');
    if (digesting) {
      reader.seekg(10);
      EXPECT_EQ(finishedDigest(reader, 20), expectedDigest(EVP_sha1(), file, 8, file.size()));
    }
  }
}

TEST(PackageReader, SkipsBySeekingOnlyWithoutDigestAndTee) {
  PackageLayout layout = packageSpec("dhcp");
  layout.meta.note = "note";
  layout.hasPayload = true;
  layout.payload = std::string(1 << 20, 'p');
  const std::string file = buildPackageFile(layout);
  for (const auto& [seekable, digesting] :
       {std::pair{true, false}, std::pair{false, false}, std::pair{true, true}}) {
    MemorySource source(file, seekable);
    std::istream in(&source);
    PackageReader reader(in, digesting);
    for (uint32_t type : {18, 1, 24, 23, 3, 19, 17}) reader.wantPart(type);
    reader.nextPart();
    Package package;
    ASSERT_TRUE(readHeader(package, reader));
    EXPECT_EQ(package.note, "note");
    EXPECT_EQ(reader.currentPart, -1);
    if (seekable && !digesting)
      EXPECT_LT(source.bytesRead, 100u);
    else
      EXPECT_EQ(source.bytesRead, file.size());
  }
}

}  // namespace
