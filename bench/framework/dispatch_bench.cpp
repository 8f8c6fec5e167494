// One function-kind host call through GetIDsOfNames + Invoke answering a 15-element array
// (GetDeviceInfo), as a host makes it, including the host's clean-up of what it got back.
#include <benchmark/benchmark.h>

#include <string>

#include "framework/base_access_controller.h"

namespace {

void BM_GetDeviceInfoByName(benchmark::State& state) {
  auto object = CreateComObject<TBaseAC>();
  IDispatch* dispatch = AsDispatch(object.Get());
  std::u16string name = u"GetDeviceInfo";
  LPOLESTR names[1] = {name.data()};
  VARIANT outData;
  VariantInit(&outData);
  for (auto _ : state) {
    DISPID id = DISPID_UNKNOWN;
    dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    VARIANT args[3];  // reversed: Timeout, OutData (by reference), InData
    VariantInit(&args[0]);
    args[0].vt = VT_I4;
    args[0].lVal = 0;
    VariantInit(&args[1]);
    args[1].vt = VT_VARIANT | VT_BYREF;
    args[1].pvarVal = &outData;
    VariantInit(&args[2]);
    DISPPARAMS params{args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                  &result, &excep, nullptr);
    benchmark::DoNotOptimize(hr);
    VariantClear(&result);
    for (VARIANT& arg : args) VariantClear(&arg);
    VariantClear(&outData);
  }
}
BENCHMARK(BM_GetDeviceInfoByName);

}  // namespace
