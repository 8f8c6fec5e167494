// UploadCards through the host's Invoke: 10,000 cards to two simulated controllers on loopback,
// each card one acknowledged WriteCard transaction per controller.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/ole_variant.h"
#include "platform/text.h"
#include "tests/driver/driver_harness.h"

namespace {

constexpr int kCards = 10000;
constexpr int kControllers = 2;

// InData of UploadCards: load mode 1, both controllers, the cards table [0..3, 0..kCards-1].
OleVariant UploadCardsInData() {
  OleVariant cards = OleVariant::VarArrayCreate({{0, 3}, {0, kCards - 1}});
  OleVariant profiles = OleVariant::VarArrayCreate({{0, 0}, {0, 1}});
  profiles.PutElement({0, 0}, OleVariant(std::int32_t{1}));
  profiles.PutElement({0, 1}, OleVariant(std::int32_t{2}));
  char number[16];
  for (LONG i = 0; i < kCards; ++i) {
    std::snprintf(number, sizeof number, "%08X", static_cast<unsigned>(0x00A00000 + i));
    cards.PutElement({0, i}, OleVariant(number));
    cards.PutElement({1, i}, profiles);
    cards.PutElement({3, i}, OleVariant(true));
  }
  return OleVariant::VarArrayOf({OleVariant(std::int32_t{1}), OleVariant::VarArrayOf({"1", "2"}), cards});
}

void BM_UploadCardsThroughInvoke(benchmark::State& state) {
  driver_test::DriverHarness h;
  h.CreateByProgID();
  h.Enable();
  h.Sim().Control(driver_test::DriverHarness::kA, [](ctrlsim::SimController& c) { c.SetRecording(false); });
  h.Sim().Control(driver_test::DriverHarness::kB, [](ctrlsim::SimController& c) { c.SetRecording(false); });
  IDispatch* driver = h.Driver();
  std::u16string name = Utf8ToUtf16("UploadCards");
  LPOLESTR names[] = {name.data()};
  DISPID dispId = DISPID_UNKNOWN;
  if (driver == nullptr || FAILED(driver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispId))) {
    state.SkipWithError("no driver object");
    return;
  }
  const OleVariant inData = UploadCardsInData();
  for (auto _ : state) {
    OleVariant in = inData;
    OleVariant out;
    OleVariant timeout(std::int32_t{0});
    VARIANT args[3];
    for (VARIANT& a : args) VariantInit(&a);
    args[2].vt = VT_BYREF | VT_VARIANT;
    args[2].pvarVal = &in.Raw();
    args[1].vt = VT_BYREF | VT_VARIANT;
    args[1].pvarVal = &out.Raw();
    args[0] = timeout.Raw();
    DISPPARAMS params{args, nullptr, 3, 0};
    OleVariant result;
    EXCEPINFO info{};
    const HRESULT hr = driver->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                      &result.Raw(), &info, nullptr);
    ClearExcepInfo(&info);
    if (FAILED(hr) || !result.AsBoolean()) {
      state.SkipWithError("UploadCards failed");
      break;
    }
    h.ClearSeen();
  }
  state.counters["card_writes_per_s"] =
      benchmark::Counter(static_cast<double>(kCards) * kControllers, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_UploadCardsThroughInvoke)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
