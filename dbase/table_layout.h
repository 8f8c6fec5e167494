// The .dbf file header and field descriptors (dBase III/IV table without memo).
//
// Header, 32 bytes, little-endian:
//   0 version 0x03 | 1..3 date of last update YY(-1900) MM DD | 4 uint32 record count (deleted
//   included) | 8 uint16 header length = 32 + 32*fields + 1 | 10 uint16 record length = 1 + sum of
//   field lengths | 12..27 zero | 28 production index flag (1 = <base>.mdx belongs to the table) |
//   29 language driver id (0x26 = code page 866) | 30..31 zero
// Field descriptor, 32 bytes each: 0..10 name, upper-case ASCII, NUL-padded | 11 type (C, N, ...)
//   | 12..15 zero | 16 length | 17 decimals (always 0 for C: some readers take it as the high byte
//   of the length) | 18..30 zero | 31 1 when a tag of the production index is built on the field.
// After the descriptors one byte 0x0D. Records follow at the header length: one deletion byte
// (' ' live, '*' deleted) then the fields, no separators; 0x1A after the last record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dbase {

enum class FieldType : char {
  Character = 'C',
  Numeric = 'N',
  // Read (as text) in tables written by other programs; never created by this library.
  Float = 'F',
  Date = 'D',
  Logical = 'L',
};

struct FieldDef {
  std::string name;
  FieldType type;
  int length;
  int decimals = 0;
};

struct FieldLayout {
  FieldDef def;
  std::size_t offset = 0;  // within the record, after the deletion byte
  bool indexed = false;    // descriptor byte 31
};

inline constexpr std::size_t kDbfPrefixSize = 32;
inline constexpr std::size_t kDescriptorSize = 32;
inline constexpr std::uint8_t kHeaderTerminator = 0x0D;
inline constexpr std::uint8_t kEndOfFile = 0x1A;
inline constexpr char kLiveMark = ' ';
inline constexpr char kDeletedMark = '*';

// The fixed 32-byte part, which changes on every append.
struct DbfPrefix {
  std::uint8_t version = 0x03;
  std::uint8_t year = 0, month = 1, day = 1;  // year - 1900
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  bool hasIndex = false;
  std::uint8_t languageDriver = 0;

  static DbfPrefix Decode(std::span<const std::uint8_t, kDbfPrefixSize> bytes);
  void EncodeInto(std::span<std::uint8_t, kDbfPrefixSize> bytes) const;
  void StampToday();
};

class TableLayout {
 public:
  // Checks a new table definition (names, types, widths); throws ErrorKind::Usage naming `path`.
  static TableLayout Define(const std::string& path, const std::vector<FieldDef>& fields,
                            std::uint8_t languageDriver);
  // Decodes the header bytes of a file of `fileSize` bytes (`bytes` holds at least the whole
  // header, or all of a shorter file); throws ErrorKind::Corrupt naming `path` when they do not
  // add up with each other or with the file size. The file may hold fewer records than the header
  // counts.
  static TableLayout Parse(const std::string& path, std::span<const std::uint8_t> bytes,
                           std::uint64_t fileSize);
  // Complete records a file of `fileSize` bytes holds after the header.
  std::uint32_t WholeRecords(std::uint64_t fileSize) const;

  // The whole header: prefix, descriptors and terminator.
  std::vector<std::uint8_t> Encode() const;

  DbfPrefix& Prefix() { return prefix_; }
  const DbfPrefix& Prefix() const { return prefix_; }
  const std::vector<FieldLayout>& Fields() const { return fields_; }
  std::vector<FieldLayout>& Fields() { return fields_; }
  // Case-insensitive; nullptr when there is no such field.
  const FieldLayout* Find(std::string_view name) const;
  std::size_t RecordLength() const { return prefix_.recordLength; }
  std::uint64_t RecordOffset(std::uint64_t recno) const {  // recno is 1-based
    return prefix_.headerLength + (recno - 1) * prefix_.recordLength;
  }

 private:
  DbfPrefix prefix_;
  std::vector<FieldLayout> fields_;
};

std::string UpperAscii(std::string_view text);

}  // namespace dbase
