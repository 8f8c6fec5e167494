// Targets: build + parse + CRC of a 27-byte event frame under 100 ns; a journal append at capacity
// 5000 (table full, the oldest record deleted each time) at most 0.3 ms median.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "driver/link_frames.h"
#include "driver/transact_base.h"

namespace {

// An event frame of 27 bytes: 16 data bytes (13 leading bytes and a 3-byte body would be too short
// for an event; the size is what matters here).
void BM_EventFrameBuildParse(benchmark::State& state) {
  const std::string data(16, '\x84');
  std::uint8_t seq = 0;
  for (auto _ : state) {
    const auto built = frames::BuildFrame(seq++, frames::kEvent, data);
    frames::ParsedFrame parsed;
    const bool ok = frames::ParseFrame(built.frame, parsed);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(parsed.data.data());
  }
  state.counters["frame_bytes"] = static_cast<double>(frames::BuildFrame(0, frames::kEvent, data).frame.size());
}
BENCHMARK(BM_EventFrameBuildParse);

void BM_Crc8(benchmark::State& state) {
  const std::string bytes(static_cast<std::size_t>(state.range(0)), 'A');
  for (auto _ : state) benchmark::DoNotOptimize(frames::CalcCRC8(bytes));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc8)->Arg(24)->Arg(1024);

void BM_JournalAppendAtCapacity(benchmark::State& state) {
  char pattern[] = "/tmp/link-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string root = pattern;
  TTransactBase journal;
  journal.Folder = root + "/";
  journal.Capacity = 5000;
  journal.PrepareTable();
  TEvent event{"1", 45717.5, 4, "0011AABB"};
  for (int i = 0; i < journal.Capacity; ++i) journal.AddEvent(event);
  journal.PrepareTable();  // packed: 5000 live records, as after a connect
  for (auto _ : state) journal.AddEvent(event);
  state.counters["live"] = 5000;
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
}
BENCHMARK(BM_JournalAppendAtCapacity)->Unit(benchmark::kMicrosecond)->Iterations(2000)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
