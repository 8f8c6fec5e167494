// A library that looks like a server but lacks DllGetClassObject (and carries no version stamp).
#include "platform/com.h"

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return S_OK; }
