// libFuzzer entry points; the work is in the driver the regression tests replay as well.
#include <cstddef>
#include <cstdint>

#include "fuzz/drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  runSessionJsonInput({data, size});
  return 0;
}
