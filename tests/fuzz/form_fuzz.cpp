// The form definition is installation data an administrator may edit: a
// damaged one must load or be refused, never crash, hang or run out of
// memory.
#include <cstdint>
#include <string>

#include "session/job_form.h"
#include "session/list_input.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrova::Session().language = "CAT";
  const std::string text(reinterpret_cast<const char*>(data), size);
  const kestrova::FormLoadResult result = kestrova::ParseJobForm(text);
  if (result.ok) {
    for (int field = 1; field <= 12; ++field) kestrova::PlaceFieldValue(1, field, "999999999");
  }
  kestrova::ListInput in = kestrova::MakeListInput(text);
  std::string item;
  while (kestrova::ReadTextItem(in, item) == kestrova::ItemStatus::kOk) {
  }
  return 0;
}
