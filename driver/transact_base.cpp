#include "driver/transact_base.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "dbase/io_fault.h"
#include "dbase/table.h"
#include "framework/tavo2_lib.h"
#include "platform/exceptions.h"
#include "platform/text.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/transact_base.def"
#undef RES

constexpr const char* kDateForm = "yyyymmddhhnnss";

const std::vector<dbase::FieldDef>& JournalFields() {
  static const std::vector<dbase::FieldDef> fields = {
      {"ID", dbase::FieldType::Character, 10, 0},
      {"EVENT", dbase::FieldType::Numeric, 3, 0},
      {"EDATE", dbase::FieldType::Character, 14, 0},
      {"CARD", dbase::FieldType::Character, 8, 0},
  };
  return fields;
}

const std::vector<dbase::TagDefinition>& JournalTags() {
  static const std::vector<dbase::TagDefinition> tags = {{"ID_IND", "ID"}, {"EDATE_IND", "EDATE"}};
  return tags;
}

// Closes the table however the operation ends.
class CloseGuard {
 public:
  explicit CloseGuard(dbase::Table& table) : table_(table) {}
  ~CloseGuard() { table_.Close(); }
  CloseGuard(const CloseGuard&) = delete;
  CloseGuard& operator=(const CloseGuard&) = delete;

 private:
  dbase::Table& table_;
};

// The short lock wait of an append, back to the library's default however the append ends.
class ShortLockWait {
 public:
  ShortLockWait(dbase::Table& table, std::chrono::milliseconds wait) : table_(table) {
    table_.SetLockTimeout(wait);
  }
  ~ShortLockWait() { table_.SetLockTimeout(dbase::Table::kDefaultLockTimeout); }
  ShortLockWait(const ShortLockWait&) = delete;
  ShortLockWait& operator=(const ShortLockWait&) = delete;

 private:
  dbase::Table& table_;
};

// Ends exclusive access however the pack ends.
class ExclusiveGuard {
 public:
  explicit ExclusiveGuard(dbase::Table& table) : table_(table) {}
  ~ExclusiveGuard() {
    try {
      table_.EndExclusiveAccess();
    } catch (...) {
      // Nothing to undo: the table is closed next in any case.
    }
  }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

 private:
  dbase::Table& table_;
};

// True when the table was packed.
bool PackWhenExclusive(dbase::Table& table) {
  ExclusiveGuard guard(table);
  if (!table.TryExclusiveAccess()) return false;
  table.Pack();
  return true;
}

}  // namespace

// The table opened with the journal's record filter switched on; switches it off, forgets the
// filter and closes the table however the read or delete ends.
class TTransactBase::FilteredSession {
 public:
  FilteredSession(TTransactBase& journal, const TStringList& IDs, TDateTime DateFrom, TDateTime DateTo)
      : journal_(journal), table_(journal.Dbf()) {
    table_.Open(journal.TableFileName());
    try {
      journal.SetFilter(IDs, DateFrom, DateTo);
      table_.SetRecordFilter([&journal](const dbase::Table& t) { return journal.DoFilterRecord(t); });
      table_.SetFiltered(true);
      table_.First();
    } catch (...) {
      End();
      throw;
    }
  }
  ~FilteredSession() { End(); }
  FilteredSession(const FilteredSession&) = delete;
  FilteredSession& operator=(const FilteredSession&) = delete;

 private:
  void End() noexcept {
    table_.SetFiltered(false);
    table_.SetRecordFilter(nullptr);
    journal_.Filter = TEventFilter{};
    table_.Close();
  }

  TTransactBase& journal_;
  dbase::Table& table_;
};

TTransactBase::TTransactBase() : FDbf(std::make_unique<dbase::Table>()) {
  // The index is derived from the table: when its file is lost or damaged it is built again.
  FDbf->SetIndexTags(JournalTags());
}

TTransactBase::~TTransactBase() = default;

std::string TTransactBase::DefaultFolder() { return GetCommonAppDataFolder() + "ac_morvikRK4400IPv41/transact/"; }

std::int32_t TTransactBase::Open() {
  PrepareTable();
  return 0;
}

bool TTransactBase::PrepareTable() {
  FDbf->SetCodePage(866);
  const std::string folder = EffectiveFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::string fileName = folder + "transact.dbf";
  dbase::Table::RemoveAbandonedTempFiles(fileName);
  // A table another program created meanwhile is prepared like one that was there before.
  if (std::filesystem::exists(fileName, ignored) || !CreateTable(fileName)) PackExisting(fileName);
  return true;
}

void TTransactBase::PackExisting(const std::string& fileName) {
  FDbf->Open(fileName);
  CloseGuard close(*FDbf);
  // A pack rebuilds the index. Without it (another program has the table open) the whole index is
  // walked once, so that a page a crash left damaged is not written into by the appends to come.
  if (!PackWhenExclusive(*FDbf)) FDbf->CheckIndex();
}

bool TTransactBase::CreateTable(const std::string& fileName) {
  try {
    const bool wasExclusive = FDbf->Exclusive();
    FDbf->SetExclusive(true);
    if (!FDbf->CreateTable(fileName, JournalFields(), dbase::CreateMode::IfMissing, JournalTags())) {
      FDbf->SetExclusive(wasExclusive);  // only the creator goes on opening exclusively
      return false;
    }
  } catch (const std::exception& e) {
    throw Exception(std::string(STableCreateError) + e.what() + " ");
  }
  return true;
}

void TTransactBase::AddEvent(const TEvent& Event) {
  if (Capacity == 0) return;
  // The span runs on the clock of the library's lock waits: steady, or virtual while a test
  // counts the waits instead of sitting through them.
  const bool waits = dbase::io_fault::Now() >= FNoWaitUntil;
  try {
    AppendTrimmed(Event, waits ? kLockWait : std::chrono::milliseconds::zero());
  } catch (const dbase::Error& e) {
    // Only a wait that ran out starts the span; a single try that fails does not prolong it.
    if (waits && e.Kind() == dbase::ErrorKind::Busy) FNoWaitUntil = dbase::io_fault::Now() + kNoWaitSpan;
    throw;
  }
  FNoWaitUntil = {};
}

void TTransactBase::AppendTrimmed(const TEvent& Event, std::chrono::milliseconds lockWait) {
  const ShortLockWait wait(*FDbf, lockWait);
  FDbf->Open(TableFileName());
  CloseGuard close(*FDbf);
  const dbase::Table::WriteScope write(*FDbf);
  FDbf->Append();
  FDbf->SetFieldString("ID", Utf8Left(Event.ID, kIdWidth));
  FDbf->SetFieldInteger("EVENT", Event.Event);
  FDbf->SetFieldString("EDATE", FormatDateTime(kDateForm, Event.EDate));
  FDbf->SetFieldString("CARD", Event.Card);
  FDbf->Post();
  TrimToCapacity(FDbf->ExactRecordCount());
}

void TTransactBase::TrimToCapacity(long long live) {
  // Within a negative capacity nothing would be left: one record goes per record appended.
  const long long keep = Capacity > 0 ? Capacity : live - 1;
  if (live <= keep) return;
  FDbf->First();
  for (; live > keep && !FDbf->Eof(); --live) FDbf->Delete();
}

void TTransactBase::GetEvents(const TStringList& IDs, TEvents& Events, TDateTime DateFrom,
                              TDateTime DateTo) {
  Events.clear();
  FilteredSession session(*this, IDs, DateFrom, DateTo);
  for (dbase::Table& table = *FDbf; !table.Eof(); table.Next()) {
    TEvent event;
    event.ID = table.FieldAsString("ID");
    event.EDate = StrToEventDate(table.FieldAsString("EDATE"));
    event.Event = static_cast<std::uint8_t>(table.FieldAsInteger("EVENT") & 0xFF);
    event.Card = table.FieldAsString("CARD");
    Events.push_back(std::move(event));
  }
}

void TTransactBase::DeleteEvents(const TStringList& IDs, TDateTime DateFrom, TDateTime DateTo) {
  FilteredSession session(*this, IDs, DateFrom, DateTo);
  while (!FDbf->Eof()) FDbf->Delete();
  PackWhenExclusive(*FDbf);
}

void TTransactBase::SetFilter(const TStringList& IDs, TDateTime DateFrom, TDateTime DateTo) {
  Filter.IDs = &IDs;
  Filter.DateFrom = FormatDateTime(kDateForm, DateFrom);
  Filter.DateTo = FormatDateTime(kDateForm, DateTo);
}

bool TTransactBase::DoFilterRecord(const dbase::Table& table) const {
  const std::string date = table.FieldAsString("EDATE");
  const bool inDates = date >= Filter.DateFrom && date <= Filter.DateTo;
  if (!Filter.IDs || Filter.IDs->empty()) return inDates;
  if (!inDates) return false;
  const std::string id = table.FieldAsString("ID");
  return std::find(Filter.IDs->begin(), Filter.IDs->end(), id) != Filter.IDs->end();
}
