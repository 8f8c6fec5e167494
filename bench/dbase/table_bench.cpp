// Speed of the event journal's use of the table: the per-event append cycle (open, append and
// post, count live records, delete the oldest, close) on a full journal of 5000 live records with
// both index tags, and a filtered read of the whole journal. Targets: append cycle <= 0.3 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dbase/table.h"

namespace {

constexpr int kCapacity = 5000;
constexpr int kEventsBetweenPacks = 2000;

struct Event {
  std::string id;
  int code;
  std::string date;
  std::string card;
};

Event MakeEvent(int i) {
  static const char* const kIds[] = {"CTRL-01", "CTRL-02", "Контр-3", "CTRL-04"};
  char date[32];
  std::snprintf(date, sizeof date, "2026%02d%02d%02d%02d%02d", 1 + (i / 100000) % 12,
                1 + (i / 3600) % 28, (i / 60) % 24, i % 60, (i * 7) % 60);
  char card[16];
  std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(i) * 2654435761u);
  return {kIds[i % 4], i % 256, date, card};
}

class Journal {
 public:
  Journal() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dbase-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    path_ = dir_ + "/transact.dbf";
    table_.SetCodePage(866);
    table_.SetExclusive(true);
    table_.CreateTable(path_, {{"ID", dbase::FieldType::Character, 10},
                               {"EVENT", dbase::FieldType::Numeric, 3},
                               {"EDATE", dbase::FieldType::Character, 14},
                               {"CARD", dbase::FieldType::Character, 8}});
    table_.Open(path_);
    table_.AddIndexTag("ID_IND", "ID");
    table_.AddIndexTag("EDATE_IND", "EDATE");
    for (next_ = 0; next_ < kCapacity; ++next_) Append(MakeEvent(next_));
    table_.Close();
  }
  ~Journal() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void AppendCycle() {
    table_.Open(path_);
    Append(MakeEvent(next_++));
    if (table_.ExactRecordCount() > kCapacity) {
      table_.First();
      table_.Delete();
    }
    table_.Close();
  }

  void Pack() {
    table_.Open(path_);
    table_.Pack();
    table_.Close();
  }

  std::size_t FilteredRead() {
    std::vector<Event> events;
    const std::string from = "20260101000000";
    const std::string to = "20261231235959";
    table_.Open(path_);
    table_.SetRecordFilter([&](const dbase::Table& t) {
      const std::string date = t.FieldAsString("EDATE");
      const std::string id = t.FieldAsString("ID");
      return (id == "CTRL-01" || id == "Контр-3") && date >= from && date <= to;
    });
    table_.SetFiltered(true);
    for (table_.First(); !table_.Eof(); table_.Next()) {
      events.push_back({table_.FieldAsString("ID"),
                        static_cast<int>(table_.FieldAsInteger("EVENT") & 0xFF),
                        table_.FieldAsString("EDATE"), table_.FieldAsString("CARD")});
    }
    table_.SetFiltered(false);
    table_.SetRecordFilter(nullptr);
    table_.Close();
    return events.size();
  }

 private:
  void Append(const Event& e) {
    table_.Append();
    table_.SetFieldString("ID", e.id);
    table_.SetFieldInteger("EVENT", e.code);
    table_.SetFieldString("EDATE", e.date);
    table_.SetFieldString("CARD", e.card);
    table_.Post();
  }

  std::string dir_;
  std::string path_;
  dbase::Table table_;
  int next_ = 0;
};

void BM_JournalAppendCycle(benchmark::State& state) {
  Journal journal;
  int sincePack = 0;
  for (auto _ : state) {
    journal.AppendCycle();
    if (++sincePack == kEventsBetweenPacks) {  // as the journal does at the next connect
      state.PauseTiming();
      journal.Pack();
      sincePack = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_JournalAppendCycle)->Unit(benchmark::kMicrosecond)->Repetitions(5);

void BM_FilteredRead5000(benchmark::State& state) {
  Journal journal;
  std::size_t found = 0;
  for (auto _ : state) found = journal.FilteredRead();
  state.counters["matches"] = static_cast<double>(found);
}
BENCHMARK(BM_FilteredRead5000)->Unit(benchmark::kMicrosecond)->Repetitions(5);

}  // namespace
