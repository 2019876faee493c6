// DPX frames through the shell's open road. Input: a control byte (see StartRun), then the file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::StartRun(data[0]);
  // A frame of many shown pixels is the same row walk at more rows, which the unit tests run at
  // 4K and 8K: decoding it here would only slow the search down.
  const auto field = [&](size_t at) {
    return at + 4 < size ? uint64_t(data[at + 1]) << 24 | uint64_t(data[at + 2]) << 16 |
                               uint64_t(data[at + 3]) << 8 | data[at + 4]
                         : 0;
  };
  if ((field(772) >> (data[0] & 3)) * (field(776) >> (data[0] & 3)) > (1u << 14)) return 0;
  fuzz::Open(fuzz::WriteScratchFile("frame_0001.dpx", data + 1, size - 1));
  fuzz::Play(2);
  return 0;
}
