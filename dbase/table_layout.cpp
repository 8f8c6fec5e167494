// Decoding, checking and encoding of the .dbf header; see table_layout.h.
#include "dbase/table_layout.h"

#include <algorithm>
#include <ctime>

#include "dbase/error.h"

namespace dbase {
namespace {

constexpr std::size_t kNameBytes = 11;
constexpr int kMaxNameLength = 10;
constexpr int kMaxCharacterLength = 254;
constexpr int kMaxNumericLength = 20;
constexpr std::size_t kMaxFields = 1024;

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool ValidNameChar(char c, bool first) {
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  const bool digit = c >= '0' && c <= '9';
  return first ? letter : (letter || digit || c == '_');
}

// Why a field definition cannot be stored, or an empty string when it can.
std::string DefinitionProblem(const FieldDef& f) {
  if (f.name.empty() || f.name.size() > kMaxNameLength) return "имя длиннее 10 символов или пустое";
  for (std::size_t i = 0; i < f.name.size(); ++i) {
    if (!ValidNameChar(f.name[i], i == 0)) return "недопустимый символ в имени";
  }
  switch (f.type) {
    case FieldType::Character:
      if (f.length < 1 || f.length > kMaxCharacterLength) return "ширина вне 1..254";
      if (f.decimals != 0) return "у символьного поля не бывает десятичных знаков";
      return {};
    case FieldType::Numeric:
      if (f.length < 1 || f.length > kMaxNumericLength) return "ширина вне 1..20";
      if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2)) {
        return "число десятичных знаков не помещается в ширину";
      }
      return {};
    default:
      return "тип поля не поддерживается при создании таблицы";
  }
}

// Why a field read from a file cannot be served, or an empty string.
std::string StoredFieldProblem(const FieldDef& f) {
  switch (f.type) {
    case FieldType::Character:
      return f.decimals != 0 ? "символьное поле с ненулевым байтом десятичных знаков" : "";
    case FieldType::Numeric:
    case FieldType::Float:
      return f.length > kMaxNumericLength || f.decimals >= f.length
                 ? "неверная ширина числового поля"
                 : "";
    case FieldType::Date:
      return f.length != 8 ? "неверная ширина поля даты" : "";
    case FieldType::Logical:
      return f.length != 1 ? "неверная ширина логического поля" : "";
  }
  return "неизвестный тип поля";
}

bool KnownType(std::uint8_t t) { return t == 'C' || t == 'N' || t == 'F' || t == 'D' || t == 'L'; }

FieldLayout DecodeDescriptor(const std::string& path, const std::uint8_t* d, std::size_t index) {
  const std::string where = "описание поля " + std::to_string(index + 1) + ": ";
  std::string name;
  for (std::size_t i = 0; i < kNameBytes && d[i] != 0; ++i) {
    const char c = static_cast<char>(d[i]);
    if (c <= ' ' || c > '~') ThrowCorrupt(path, where + "недопустимый символ в имени поля");
    name += c;
  }
  if (name.empty()) ThrowCorrupt(path, where + "пустое имя поля");
  if (!KnownType(d[11])) {
    if (d[11] >= 'A' && d[11] <= 'Z') {
      ThrowUnsupported(path, where + "тип поля '" + std::string(1, static_cast<char>(d[11])) + "'");
    }
    ThrowCorrupt(path, where + "неизвестный тип поля");
  }
  FieldLayout field;
  field.def = FieldDef{UpperAscii(name), static_cast<FieldType>(d[11]), d[16], d[17]};
  field.indexed = d[31] == 1;
  if (field.def.length == 0) ThrowCorrupt(path, where + "нулевая ширина поля " + name);
  if (const std::string problem = StoredFieldProblem(field.def); !problem.empty()) {
    ThrowCorrupt(path, where + problem + " (" + name + ")");
  }
  return field;
}

void CheckUniqueNames(const std::string& path, const std::vector<FieldLayout>& fields,
                      bool stored) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (fields[i].def.name == fields[j].def.name) {
        const std::string detail = "поле " + fields[i].def.name + " описано дважды";
        if (stored) ThrowCorrupt(path, detail);
        ThrowUsage(path, detail);
      }
    }
  }
}

}  // namespace

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

DbfPrefix DbfPrefix::Decode(std::span<const std::uint8_t, kDbfPrefixSize> b) {
  DbfPrefix p;
  p.version = b[0];
  p.year = b[1];
  p.month = b[2];
  p.day = b[3];
  p.recordCount = Get32(&b[4]);
  p.headerLength = Get16(&b[8]);
  p.recordLength = Get16(&b[10]);
  p.hasIndex = b[28] == 1;
  p.languageDriver = b[29];
  return p;
}

void DbfPrefix::EncodeInto(std::span<std::uint8_t, kDbfPrefixSize> b) const {
  std::fill(b.begin(), b.end(), 0);
  b[0] = version;
  b[1] = year;
  b[2] = month;
  b[3] = day;
  Put32(&b[4], recordCount);
  Put16(&b[8], headerLength);
  Put16(&b[10], recordLength);
  b[28] = hasIndex ? 1 : 0;
  b[29] = languageDriver;
}

void DbfPrefix::StampToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  year = static_cast<std::uint8_t>(local.tm_year);
  month = static_cast<std::uint8_t>(local.tm_mon + 1);
  day = static_cast<std::uint8_t>(local.tm_mday);
}

TableLayout TableLayout::Define(const std::string& path, const std::vector<FieldDef>& fields,
                                std::uint8_t languageDriver) {
  if (fields.empty()) ThrowUsage(path, "у таблицы нет полей");
  if (fields.size() > kMaxFields) ThrowUsage(path, "слишком много полей");
  TableLayout layout;
  std::size_t offset = 1;
  for (const FieldDef& f : fields) {
    if (const std::string problem = DefinitionProblem(f); !problem.empty()) {
      ThrowUsage(path, "поле " + f.name + ": " + problem);
    }
    FieldLayout field{f, offset, false};
    field.def.name = UpperAscii(f.name);
    layout.fields_.push_back(field);
    offset += static_cast<std::size_t>(f.length);
  }
  CheckUniqueNames(path, layout.fields_, false);
  if (offset > 0xFFFF) ThrowUsage(path, "запись длиннее 65535 байт");
  layout.prefix_.headerLength =
      static_cast<std::uint16_t>(kDbfPrefixSize + kDescriptorSize * fields.size() + 1);
  layout.prefix_.recordLength = static_cast<std::uint16_t>(offset);
  layout.prefix_.languageDriver = languageDriver;
  layout.prefix_.StampToday();
  return layout;
}

std::uint32_t TableLayout::WholeRecords(std::uint64_t fileSize) const {
  if (fileSize <= prefix_.headerLength || prefix_.recordLength == 0) return 0;
  const std::uint64_t whole = (fileSize - prefix_.headerLength) / prefix_.recordLength;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(whole, 0xFFFFFFFFu));
}

TableLayout TableLayout::Parse(const std::string& path, std::span<const std::uint8_t> bytes,
                               std::uint64_t fileSize) {
  if (fileSize < kDbfPrefixSize || bytes.size() < kDbfPrefixSize) {
    ThrowCorrupt(path, "файл короче заголовка таблицы");
  }
  TableLayout layout;
  DbfPrefix& p = layout.prefix_;
  p = DbfPrefix::Decode(bytes.first<kDbfPrefixSize>());
  if ((p.version & 0x07) != 0x03) {
    ThrowUnsupported(path, "неизвестная версия таблицы " + std::to_string(p.version));
  }
  if (p.headerLength < kDbfPrefixSize + kDescriptorSize + 1)
    ThrowCorrupt(path, "слишком короткий заголовок");
  if (p.headerLength > fileSize || p.headerLength > bytes.size()) {
    ThrowCorrupt(path, "длина заголовка больше размера файла");
  }
  std::size_t pos = kDbfPrefixSize;
  while (bytes[pos] != kHeaderTerminator) {
    if (pos + kDescriptorSize >= p.headerLength || layout.fields_.size() >= kMaxFields) {
      ThrowCorrupt(path, "нет признака конца описаний полей");
    }
    layout.fields_.push_back(DecodeDescriptor(path, &bytes[pos], layout.fields_.size()));
    pos += kDescriptorSize;
  }
  if (layout.fields_.empty()) ThrowCorrupt(path, "в таблице нет полей");
  CheckUniqueNames(path, layout.fields_, true);
  std::size_t offset = 1;
  for (FieldLayout& f : layout.fields_) {
    f.offset = offset;
    offset += static_cast<std::size_t>(f.def.length);
  }
  if (offset != p.recordLength) {
    ThrowCorrupt(path, "длина записи в заголовке (" + std::to_string(p.recordLength) +
                           ") не равна сумме длин полей (" + std::to_string(offset) + ")");
  }
  return layout;
}

std::vector<std::uint8_t> TableLayout::Encode() const {
  std::vector<std::uint8_t> out(prefix_.headerLength, 0);
  prefix_.EncodeInto(std::span<std::uint8_t, kDbfPrefixSize>(out.data(), kDbfPrefixSize));
  std::size_t pos = kDbfPrefixSize;
  for (const FieldLayout& f : fields_) {
    std::uint8_t* d = &out[pos];
    std::copy(f.def.name.begin(), f.def.name.end(), d);
    d[11] = static_cast<std::uint8_t>(f.def.type);
    d[16] = static_cast<std::uint8_t>(f.def.length);
    d[17] = static_cast<std::uint8_t>(f.def.decimals);
    d[31] = f.indexed ? 1 : 0;
    pos += kDescriptorSize;
  }
  out[pos] = kHeaderTerminator;
  return out;
}

const FieldLayout* TableLayout::Find(std::string_view name) const {
  const auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (const FieldLayout& f : fields_) {
    if (f.def.name.size() == name.size() &&
        std::equal(name.begin(), name.end(), f.def.name.begin(),
                   [&](char a, char b) { return upper(a) == b; })) {
      return &f;
    }
  }
  return nullptr;
}

}  // namespace dbase
