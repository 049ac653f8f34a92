#include "pkgfile/package_reader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>

#include "pkgtool/package_builder.h"

namespace {

// A reader over a file in memory (acting like a pipe when unseekable) that wants the
// given part types; seeked adds up the offsets the file was moved by.
struct Reading : std::stringbuf {
  Reading(const std::string& file, bool digesting, std::initializer_list<uint32_t> wanted,
          std::streambuf* tee = nullptr, bool seekable = true)
      : std::stringbuf(file), seekable(seekable), in(this), reader(in, digesting, tee) {
    for (const uint32_t type : wanted) reader.wantPart(type);
  }
  pos_type seekoff(off_type offset, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override {
    if (!seekable) return pos_type(off_type(-1));
    seeked += offset;
    return std::stringbuf::seekoff(offset, way, which);
  }
  bool seekable;
  off_type seeked = 0;
  std::istream in;
  PackageReader reader;
};

// The reader's digest value (finished first) against libcrypto's SHA-1 or SHA-256 of
// file[begin, end).
void expectDigest(PackageReader& reader, const std::string& file, size_t begin, size_t end,
                  bool sha1 = true, bool finish = true) {
  if (finish) reader.parts().finishDigest();
  unsigned char expected[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_Digest(file.data() + begin, end - begin, expected, &size, sha1 ? EVP_sha1() : EVP_sha256(),
             nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.parts().digestValue()), size),
            std::string(reinterpret_cast<char*>(expected), size));
}

PackageLayout layoutOf(const std::string& name, uint32_t signatureLength = 0) {
  PackageLayout layout;
  layout.meta = Package(name);
  layout.meta.version = 0x01006600;
  layout.meta.buildTime = 0x5F000001;
  layout.meta.flags = 7;
  layout.files = {{"bin/" + name, 0100755, std::string(40000, 'x')}};
  layout.signatureLength = signatureLength;
  return layout;
}

// Everything readHeader fills in, as one line.
std::string describe(const Package& p) {
  std::ostringstream out;
  out << std::hex << p.name << ' ' << p.version << ' ' << p.buildTime << ' ' << p.flags << " ["
      << p.part24Text << '|' << p.architecture << '|' << p.part2Text << '|' << p.note << ']';
  for (const auto* list : {&p.dependencies, &p.provides, &p.conflicts}) {
    out << " {";
    for (const DependencyEntry& e : *list)
      out << e.name << ' ' << e.minVersion << ' ' << e.maxVersion << ' ' << e.priority << ';';
    out << '}';
  }
  return out.str() + (p.hasOpaquePayload ? " payload" : "");
}

TEST(PackageReader, StopsForGoodAtTheEndOrAtAnythingUnreadable) {
  const std::string good = buildPackageFile(layoutOf("dhcp"));
  const std::tuple<std::string, uint32_t, std::string> cases[] = {
      {good, kPackageMagic, "1 9 -1"},
      {buildPackageFile(layoutOf("dhcp"), kAltPackageMagic), kAltPackageMagic, "1 9 -1"},
      {good.substr(0, 7), 0xFFFFFFFF, "-1"},
      {std::string("\x11\x22\x33\x44").append(good, 4), 0x44332211, "-1"},
      {good.substr(0, good.size() - 3), kPackageMagic, "1 -1"},    // in the last part header
      {good.substr(0, good.size() - 106), kPackageMagic, "1 -1"},  // in the file container
  };
  for (const auto& [file, magic, trace] : cases) {
    for (const bool digesting : {true, false}) {
      Reading reading(file, digesting, {PackageHeaderPart, SignaturePart});
      PackageReader& reader = reading.reader;
      EXPECT_EQ(reader.magic, magic);
      EXPECT_EQ(reader.declaredSize, file.size() < 8 ? 0 : good.size());
      EXPECT_EQ(reader.bad(), trace == "-1");
      std::string seen = std::to_string(reader.nextPart());
      while (reader.currentPart != -1) seen.append(" ").append(std::to_string(reader.nextPart()));
      EXPECT_EQ(seen, trace);
      reader.clear();
      EXPECT_EQ(reader.nextPart(), -1);
    }
  }
  // Reading beyond the end of a part fails the stream, which also ends the reader.
  Reading reading(good, true, {PackageHeaderPart, SignaturePart});
  reading.reader.nextPart();
  char record[37];
  EXPECT_TRUE(reading.reader.read(record, sizeof record).fail());
  EXPECT_EQ(reading.reader.nextPart(), -1);
}

TEST(PackageReader, MetadataPartsAreReadInTheirOrderPassingOverOthers) {
  const Package meta = layoutOf("abcdefghijklmnop").meta;
  const std::string record = encodeHeaderRecord(meta, false);
  const std::string withFlags = encodeHeaderRecord(meta, true);
  const DependencyEntry system{"system", 0x06000000, 0x07000000, -3}, wide{meta.name, 1, 0, 5};
  const std::string both = encodeEntryTable({system, wide});
  const std::string head = meta.name + " 1006600 5f000001 ";
  const std::tuple<std::vector<std::pair<uint16_t, std::string>>, std::string, int> cases[] = {
      // A 32-byte record; the first metadata part out of order ends the metadata.
      {{{1, record}, {23, "hi"}, {16, "arm"}}, head + "0 [|i386||hi] {} {} {}", 16},
      {{{1, withFlags}, {23, "hi"}}, head + "7 [|i386||hi] {} {} {}", -1},
      {{{1, withFlags + "\x55\x55\x55\x55"}, {23, "hi"}}, head + "7 [|i386||hi] {} {} {}", -1},
      {{{1, withFlags}, {24, "t24"}, {99, "junk"}, {16, "mips"}, {20, both}, {2, "t2"},
        {23, "a note"}, {3, both}, {19, encodeEntryTable({wide})},
        {17, encodeEntryTable({system}) + "trailing"}, {21, "payload"}},
       head + "7 [t24|mips|t2|a note] {system 6000000 7000000 fffffffd;abcdefghijklmnop 1 0 5;} "
              "{abcdefghijklmnop 1 0 5;} {system 6000000 7000000 fffffffd;} payload",
       21},
  };
  for (const auto& [parts, expected, endsOn] : cases) {
    PartWriter writer;
    for (const auto& [type, payload] : parts) writer.part(type, payload);
    Reading reading(writer.file(kPackageMagic), true, {1, 24, 16, 2, 23, 3, 19, 17, 21});
    reading.reader.nextPart();
    Package package;
    ASSERT_TRUE(readHeader(package, reading.reader));
    EXPECT_EQ(describe(package), expected);
    EXPECT_EQ(reading.reader.currentPart, endsOn);
  }
}

// Each type-1 header closes the digest of what came before it, and a type-25 part
// switches to SHA-256.
TEST(PackageReader, DigestRunsFromTheLastPackageHeaderToTheSignatureHeader) {
  // Where the second digest begins: at the header part, also after a switch part before
  // it, or at a switch part after it.
  const std::pair<DigestSwitch, size_t> cases[] = {{DigestSwitch::None, 0},
                                                   {DigestSwitch::BeforeHeader, 6},
                                                   {DigestSwitch::AfterHeader, 6 + 36}};
  for (const auto& [where, begins] : cases) {
    PackageLayout second = layoutOf("dhcp", 68);
    second.digestSwitch = where;
    PartWriter writer;  // a bundle's own part, then two packages
    writer.part(BundleHeaderPart, encodeHeaderRecord(layoutOf("core").meta, true));
    const size_t first = 8 + writer.body().size();
    writer.raw(encodePackageParts(layoutOf("system", 4)));
    const size_t start = 8 + writer.body().size();
    writer.raw(encodePackageParts(second));
    const std::string file = writer.file(kPackageMagic);

    Reading reading(file, true, {PackageHeaderPart, SignaturePart});
    PackageReader& reader = reading.reader;
    for (const int type : {1, 9}) ASSERT_EQ(reader.nextPart(), type);
    char signature[8];  // taken without entering the digest
    EXPECT_EQ(reader.parts().readUndigested(signature, sizeof signature), 4);
    ASSERT_EQ(reader.nextPart(), PackageHeaderPart);
    if (where == DigestSwitch::None) expectDigest(reader, file, first, start - 4, true, false);
    ASSERT_EQ(reader.nextPart(), SignaturePart);
    expectDigest(reader, file, start + begins, file.size() - 68, where == DigestSwitch::None);
  }
}

// Bytes given back are neither digested nor teed twice; bytes once digested or teed
// cannot be taken again, and only a plain reader seeks over unwanted parts.
TEST(PackageReader, PositioningGivingBackAndSkippingInsideParts) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(layoutOf("dhcp").meta, true));
  writer.part(OpaquePayloadPart, std::string(100000, 'p'));
  writer.part(FileContainerPart, "0123456789");
  writer.part(SignaturePart, std::string(68, 's'));
  const std::string file = writer.file(kPackageMagic);
  for (int mode = 0; mode < 5; ++mode) {  // plain, digesting, teeing, both; plain from a pipe
    const bool digesting = mode & 1, teeing = mode & 2, plain = mode == 0;
    std::stringbuf tee;
    Reading reading(file, digesting, {4, 9}, teeing ? &tee : nullptr, mode != 4);
    PackageReader& reader = reading.reader;
    ASSERT_EQ(reader.nextPart(), FileContainerPart);
    EXPECT_EQ(reader.parts().partStart(), 8u + 6 + 36 + 6 + 100000 + 6);
    EXPECT_TRUE(reader.unget().bad());  // nothing of the part taken yet
    reader.clear();
    EXPECT_EQ(reader.get(), '0');
    ASSERT_TRUE(reader.unget());
    EXPECT_EQ(reader.get(), '0');
    EXPECT_EQ(static_cast<std::streamoff>(reader.seekg(4).tellg()), 4);
    char two[2];
    reader.read(two, 2).putback(two[1]).read(two, 2);
    EXPECT_EQ(std::string(two, 2), "56");
    EXPECT_EQ(static_cast<std::streamoff>(reader.seekg(1, std::ios_base::cur).tellg()), 8);
    EXPECT_TRUE(reader.seekg(0, std::ios_base::end).fail());
    reader.clear();
    EXPECT_TRUE(reader.seekg(11).fail());
    reader.clear();
    EXPECT_EQ(reader.seekg(1).fail(), !plain);
    reader.clear();
    EXPECT_EQ(reader.get(), plain ? '1' : '8');
    ASSERT_EQ(reader.nextPart(), SignaturePart);
    if (digesting) expectDigest(reader, file, 8, file.size() - 68);
    char signature[68];  // taken without entering the digest, but teed
    EXPECT_EQ(reader.parts().readUndigested(signature, sizeof signature), 68);
    EXPECT_EQ(reader.nextPart(), -1);
    EXPECT_EQ(tee.str(), teeing ? file : "");
    EXPECT_TRUE(plain ? reading.seeked >= 100000 : reading.seeked == 0);
  }
}

}  // namespace
