// DPX frames through the shell's open road. Input: a control byte (see StartRun), then the file.
#include "formats/byte_order.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::StartRun(data[0]);
  // A frame of many shown pixels is the same row walk at more rows, which the unit tests run at
  // 4K and 8K: decoding it here would only slow the search down.
  const bool little = size > 1 && data[1] == 'X';  // "XPDS": the fields are little-endian
  const auto shown = [&](size_t at) {
    if (at + 4 >= size) return uint64_t(0);
    const uint8_t* field = data + at + 1;
    return uint64_t((little ? LittleEndian32(field) : BigEndian32(field)) >> (data[0] & 3));
  };
  if (shown(772) * shown(776) > (1u << 14)) return 0;  // width and height at 772 and 776
  fuzz::Open(fuzz::WriteScratchFile("frame_0001.dpx", data + 1, size - 1));
  fuzz::Play(2);
  return 0;
}
