// libFuzzer target: arbitrary bytes opened as a table (.dbf) and as the production index (.mdx) of
// a valid table, either as they come or as byte patches over a valid indexed table of 200 records
// (so that mutations reach deep into headers and trees). Errors are expected; crashes, hangs and
// sanitizer reports are not.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dbase/mdx_index.h"
#include "dbase/table.h"

namespace {

struct Scratch {
  std::string dir;
  std::string dbf;
  std::string mdx;
  std::vector<char> journal;  // a valid indexed table
  std::vector<char> index;    // its index
};

struct FolderRemover {
  std::string dir;
  ~FolderRemover() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

void Write(const std::string& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
}

std::vector<char> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const Scratch& Setup() {
  static const Scratch scratch = [] {
    Scratch s;
    // In memory when possible: packs flush their files, which is slow on a disk.
    std::string pattern =
        ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/fuzz-dbase-XXXXXX" : "/tmp/fuzz-dbase-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) abort();
    s.dir = pattern;
    static const FolderRemover remover{s.dir};  // outlives `scratch`: constructed first
    s.dbf = s.dir + "/transact.dbf";
    s.mdx = s.dir + "/transact.mdx";
    dbase::Table table;
    table.SetCodePage(866);
    table.CreateTable(s.dbf, {{"ID", dbase::FieldType::Character, 10},
                              {"EVENT", dbase::FieldType::Numeric, 3},
                              {"EDATE", dbase::FieldType::Character, 14}});
    table.Open(s.dbf);
    table.AddIndexTag("ID_IND", "ID");
    table.AddIndexTag("EDATE_IND", "EDATE");
    for (int i = 0; i < 200; ++i) {
      table.Append();
      table.SetFieldString("ID", "C" + std::to_string(i % 37));
      table.SetFieldString("EDATE", "2026" + std::to_string(100000 + i * 7));
      table.SetFieldInteger("EVENT", i);
      table.Post();
    }
    table.Close();
    s.journal = Read(s.dbf);
    s.index = Read(s.mdx);
    return s;
  }();
  return scratch;
}

void Exercise(dbase::Table& table) {
  table.ExactRecordCount();
  int seen = 0;
  for (table.First(); !table.Eof() && seen < 2000; table.Next(), ++seen) {
    for (const auto& field : table.Fields()) {
      table.FieldAsString(field.def.name);
      table.FieldAsInteger(field.def.name);
    }
  }
  table.Append();
  table.SetFieldString(table.Fields().front().def.name, "Ж1");
  table.Post();
  if (table.TryExclusiveAccess()) table.Pack();
}

void AsTable(const Scratch& s, const std::uint8_t* data, std::size_t size) {
  Write(s.mdx, s.index.data(), s.index.size());
  Write(s.dbf, reinterpret_cast<const char*>(data), size);
  dbase::Table table;
  try {
    table.Open(s.dbf);
    Exercise(table);
  } catch (const dbase::Error&) {
  }
}

void AsIndex(const Scratch& s, const std::uint8_t* data, std::size_t size) {
  Write(s.dbf, s.journal.data(), s.journal.size());
  Write(s.mdx, reinterpret_cast<const char*>(data), size);
  if (size < 2048) return;
  // Straight at the tree, bypassing the state stamp that would send a stale file to a rebuild.
  try {
    dbase::File dbfFile(s.dbf, O_RDONLY);
    std::vector<std::uint8_t> head(s.journal.begin(), s.journal.end());
    const auto layout = dbase::TableLayout::Parse(s.dbf, head, head.size());
    dbase::File mdxFile(s.mdx, O_RDWR);
    dbase::MdxIndex index(mdxFile, layout);
    for (std::size_t t = 0; t < index.Tags().size(); ++t) {
      std::size_t keys = 0;
      index.ForEachKey(t, [&keys](std::string_view, std::uint32_t) { ++keys; });
    }
    std::vector<std::uint8_t> record(layout.RecordLength(), ' ');
    index.Append(layout.Prefix().recordCount + 1, record, {});
  } catch (const dbase::Error&) {
  }
  Write(s.mdx, reinterpret_cast<const char*>(data), size);
  Write(s.dbf, s.journal.data(), s.journal.size());
  dbase::Table table;
  try {
    table.Open(s.dbf);
    Exercise(table);
  } catch (const dbase::Error&) {
  }
}

// Input read as (uint16 offset, byte) pairs written over a copy of `base`.
std::vector<std::uint8_t> Patched(const std::vector<char>& base, const std::uint8_t* data,
                                  std::size_t size) {
  std::vector<std::uint8_t> out(base.begin(), base.end());
  for (std::size_t i = 0; i + 2 < size; i += 3) {
    out[(data[i] | data[i + 1] << 8) % out.size()] = data[i + 2];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Scratch& s = Setup();
  if (size == 0) return 0;
  switch (data[0] & 3) {
    case 0:
      AsTable(s, data + 1, size - 1);
      break;
    case 1:
      AsIndex(s, data + 1, size - 1);
      break;
    case 2: {
      const auto bytes = Patched(s.journal, data + 1, size - 1);
      AsTable(s, bytes.data(), bytes.size());
      break;
    }
    default: {
      const auto bytes = Patched(s.index, data + 1, size - 1);
      AsIndex(s, bytes.data(), bytes.size());
      break;
    }
  }
  return 0;
}
