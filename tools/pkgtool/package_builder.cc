#include "pkgtool/package_builder.h"

#include <zlib.h>

#include <cstring>

namespace {

void appendLe16(std::string& out, uint16_t value) {
  uint8_t bytes[2];
  writeLe16(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), 2);
}

void appendLe32(std::string& out, uint32_t value) {
  uint8_t bytes[4];
  writeLe32(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), 4);
}

// A name in a 16-byte NUL-padded field; longer names are cut.
void appendName(std::string& out, const std::string& name) {
  std::string field = name.substr(0, kNameFieldSize);
  field.resize(kNameFieldSize, '\0');
  out += field;
}

// The header part of type headerType and the metadata parts in the order the
// installer looks for them.
void writeHeaderAndMetadata(PartWriter& writer, uint16_t headerType, const Package& meta,
                            bool withFlags) {
  writer.part(headerType, encodeHeaderRecord(meta, withFlags));
  if (!meta.part24Text.empty()) writer.part(Text24Part, meta.part24Text);
  if (!meta.architecture.empty()) writer.part(ArchitecturePart, meta.architecture);
  if (!meta.part2Text.empty()) writer.part(Text2Part, meta.part2Text);
  if (!meta.note.empty()) writer.part(NotePart, meta.note);
  if (!meta.dependencies.empty())
    writer.part(DependenciesPart, encodeEntryTable(meta.dependencies));
  if (!meta.provides.empty()) writer.part(ProvidesPart, encodeEntryTable(meta.provides));
  if (!meta.conflicts.empty()) writer.part(ConflictsPart, encodeEntryTable(meta.conflicts));
}

}  // namespace

std::string encodeContainer(const std::vector<ContainerEntry>& entries) {
  std::string out;
  for (const ContainerEntry& entry : entries) {
    ContainerEntryHeader header;
    header.mode = entry.mode;
    header.passOver = entry.passOver;
    header.dataLength = static_cast<uint32_t>(entry.data.size());
    header.nameLength = static_cast<uint16_t>(entry.name.size());
    uint8_t bytes[kContainerEntryHeaderSize];
    encodeContainerEntryHeader(header, bytes);
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    out += entry.name;
    out += entry.data;
  }
  return out;
}

std::string deflateBytes(std::string_view data) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(out.data()), &size,
            reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
  out.resize(size);
  return out;
}

std::string encodeHeaderRecord(const Package& package, bool withFlags) {
  std::string out;
  appendName(out, package.name);
  appendLe32(out, package.version);
  appendLe32(out, package.buildTime);
  out.append(8, '\0');
  if (withFlags) appendLe32(out, package.flags);
  return out;
}

std::string encodeEntryTable(const std::vector<DependencyEntry>& entries) {
  std::string out;
  appendLe16(out, static_cast<uint16_t>(entries.size()));
  for (const DependencyEntry& entry : entries) {
    appendName(out, entry.name);
    appendLe32(out, entry.minVersion);
    appendLe32(out, 0);
    appendLe32(out, entry.maxVersion);
    appendLe32(out, static_cast<uint32_t>(entry.priority));
  }
  return out;
}

void PartWriter::part(uint16_t type, std::string_view payload) {
  appendLe16(body_, type);
  appendLe32(body_, static_cast<uint32_t>(payload.size()));
  body_.append(payload);
}

std::string PartWriter::file(uint32_t magic) const {
  std::string out;
  appendLe32(out, magic);
  appendLe32(out, static_cast<uint32_t>(body_.size()));
  return out + body_;
}

std::string encodePackageParts(const PackageLayout& layout) {
  PartWriter writer;
  if (layout.digestSwitch == DigestSwitch::BeforeHeader) writer.part(DigestSwitchPart, "");
  writeHeaderAndMetadata(writer, PackageHeaderPart, layout.meta, layout.withFlags);
  if (layout.digestSwitch == DigestSwitch::AfterHeader) writer.part(DigestSwitchPart, "");
  if (layout.hasPayload) writer.part(OpaquePayloadPart, layout.payload);
  writer.part(FileContainerPart, deflateBytes(encodeContainer(layout.files)));
  writer.part(SignaturePart, std::string(layout.signatureLength, '\0'));
  return writer.body();
}

std::string buildPackageFile(const PackageLayout& layout, uint32_t magic) {
  PartWriter writer;
  writer.raw(encodePackageParts(layout));
  return writer.file(magic);
}

std::string encodeBundleHead(const BundleLayout& layout) {
  PartWriter writer;
  writeHeaderAndMetadata(writer, BundleHeaderPart, layout.meta, true);
  if (layout.hasPayload) writer.part(OpaquePayloadPart, layout.payload);
  if (!layout.entryTable.empty())
    writer.part(BundleEntryTablePart, encodeEntryTable(layout.entryTable));
  return writer.body();
}

std::string buildBundleFile(const BundleLayout& layout, uint32_t magic) {
  PartWriter writer;
  writer.raw(encodeBundleHead(layout));
  for (const PackageLayout& member : layout.members) writer.raw(encodePackageParts(member));
  return writer.file(magic);
}
