// The event journal: the dBase table "transact.dbf" (code page 866) holding every controller event
// for the host to pull and delete by controller and date range. The table is opened for each
// operation and closed again before it returns, also when it fails; errors are raised.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "driver/morvik_common.h"

namespace dbase {
class Table;
}

class TTransactBase {
 public:
  static constexpr std::int32_t kDefaultCapacity = 5000;
  static constexpr std::size_t kIdWidth = 10;  // characters kept of a controller identifier
  // How long AddEvent waits for each lock of the table held by another holder: an event must not
  // be held up on its way to the host behind another program's lock. Preparing, reading and
  // deleting wait the library's default time (dbase::Table::kDefaultLockTimeout).
  static constexpr std::chrono::milliseconds kLockWait{200};
  // After an append's wait ran out (the table stays locked), the appends of this span try each
  // lock once without waiting, so a held lock costs at most one wait per span and not one per
  // event. The first append after the span waits again; one that goes through ends the span.
  static constexpr std::chrono::seconds kNoWaitSpan{1};

  // Capacity 5000; Folder empty, which stands for the default folder. The default folder is looked
  // up when the table is first used, so a machine without a usable application data folder fails
  // there (preparing the journal) and not while the driver object is made.
  TTransactBase();
  ~TTransactBase();
  TTransactBase(const TTransactBase&) = delete;
  TTransactBase& operator=(const TTransactBase&) = delete;

  // The common application data folder followed by "ac_morvikRK4400IPv41/transact/".
  static std::string DefaultFolder();
  // Folder, or the default folder when Folder is empty (raises when no application data folder works).
  std::string EffectiveFolder() const { return Folder.empty() ? DefaultFolder() : Folder; }
  std::string TableFileName() const { return EffectiveFolder() + "transact.dbf"; }

  // Prepares the table (PrepareTable) and answers 0.
  std::int32_t Open();
  // Creates the table with its two index tags when it is missing, else packs it when exclusive
  // access can be had and otherwise walks its index (rebuilt when damaged). A failed creation
  // raises Exception("Ошибка создания таблицы:  <message> "). A missing or unreadable index is
  // rebuilt and a last record cut short is dropped on the way; temporary files left by creations,
  // packs and rebuilds whose process died are removed.
  bool PrepareTable();
  // Appends the event; then, with more live records than a positive Capacity, deletes the oldest
  // ones (in physical order) until Capacity are left, which also takes back records a crash
  // between an append and its deletion left over or a lowered Capacity. A negative Capacity
  // deletes the oldest one. The count and the deletions are made under the append's write lock,
  // so that appenders in other programs cannot overshoot the capacity together. Capacity 0 does
  // nothing at all. Waits kLockWait for a lock held elsewhere, or not at all within kNoWaitSpan
  // of a wait that ran out; failures are raised (ErrorKind::Busy for a lock that stayed held).
  void AddEvent(const TEvent& Event);
  // The records of the listed controllers (all for an empty list) between the dates, both
  // inclusive, oldest first. Failures are raised.
  void GetEvents(const TStringList& IDs, TEvents& Events, TDateTime DateFrom, TDateTime DateTo);
  // Deletes the same records, then packs when exclusive access can be had. Failures are raised.
  void DeleteEvents(const TStringList& IDs, TDateTime DateFrom, TDateTime DateTo);

  void SetFilter(const TStringList& IDs, TDateTime DateFrom, TDateTime DateTo);
  // Whether the table's current record passes Filter.
  bool DoFilterRecord(const dbase::Table& table) const;

  dbase::Table& Dbf() noexcept { return *FDbf; }

  // The most live records kept: each append deletes the oldest beyond it. 0 switches the journal
  // off; negative: each append deletes the oldest record, so the live count never grows.
  std::int32_t Capacity = kDefaultCapacity;
  std::string Folder;  // with a trailing '/'; empty: the default folder
  TEventFilter Filter;

 private:
  // Opens the table, appends the event and trims the table to the capacity, waiting `lockWait`
  // for each lock held elsewhere.
  void AppendTrimmed(const TEvent& Event, std::chrono::milliseconds lockWait);
  // Deletes the oldest live records until `live` (the count after the append) is within Capacity.
  void TrimToCapacity(long long live);
  // False when another program created the table meanwhile.
  bool CreateTable(const std::string& fileName);
  void PackExisting(const std::string& fileName);
  // Opens the table with the filter on; the returned guard switches it off and closes the table.
  class FilteredSession;

  std::unique_ptr<dbase::Table> FDbf;
  // Until then (on the library's lock-wait clock) appends do not wait for a lock: set when an
  // append's wait ran out, cleared when an append goes through.
  std::chrono::steady_clock::time_point FNoWaitUntil{};
};
