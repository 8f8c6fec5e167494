// Feeds arbitrary text to the controller list's XML reader. Whatever it reads (also the part read
// before a failure) must save to a text that reads back to the same controllers and saves the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/controllers.h"
#include "platform/exceptions.h"

namespace {

// Every field that the list's XML carries; the identifier and the name are what users type.
bool SameFields(const TController& a, const TController& b) {
  return a.ID == b.ID && a.Name == b.Name && a.IPAddr == b.IPAddr && a.Config == b.Config &&
         a.EntranceControl == b.EntranceControl && a.ExitControl == b.ExitControl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  TControllers list;
  try {
    list.LoadFromXML(input);
  } catch (const Exception&) {
  }
  const std::string saved = list.SaveToXML();
  TControllers again;
  again.LoadFromXML(saved);  // no catch: a saved list that does not read back is a fault
  if (again.Count() != list.Count()) std::abort();
  for (int i = 0; i < list.Count(); ++i) {
    if (!SameFields(*list[i], *again[i])) std::abort();
  }
  if (again.SaveToXML() != saved) std::abort();
  return 0;
}
