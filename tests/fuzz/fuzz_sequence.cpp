// Sequences: a folder of files whose names and contents come from the input, one name opened
// through the shell's open road, then a few playback steps. Frames are shown at 1/8.
//
// Input: a control byte (colour options as in StartRun; bit 4 makes the last file a folder,
// bits 5-7 the playback steps), the opened name up to a zero byte, then the files, each its
// name up to a zero byte, a 16-bit big-endian length and that many bytes of contents. A "/" in
// a name becomes "_": the folder part is the harness's, only the names are the input's.
#include "fuzz_common.h"

namespace {

std::string Name(const uint8_t*& at, const uint8_t* end) {
  std::string text;
  for (; at < end && *at != 0; ++at) text += *at == '/' ? '_' : char(*at);
  if (at < end) ++at;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::StartRun(data[0] | 3);
  const std::filesystem::path folder = fuzz::ScratchFolder() / "seq";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directory(folder, ignored);

  const uint8_t* at = data + 1;
  const uint8_t* const end = data + size;
  const std::string opened = Name(at, end);
  std::string last;
  for (int k = 0; k < 64 && at < end; ++k) {
    const std::string name = Name(at, end);
    const size_t wanted = end - at >= 2 ? size_t(at[0]) << 8 | at[1] : 0;
    at += end - at >= 2 ? 2 : end - at;
    const size_t length = wanted < size_t(end - at) ? wanted : size_t(end - at);
    if (!name.empty() && name != "." && name != "..") {
      fuzz::WriteScratchFile("seq/" + name, at, length);
      last = name;
    }
    at += length;
  }
  if ((data[0] & 0x10) != 0 && !last.empty()) {
    std::filesystem::remove(folder / last, ignored);
    std::filesystem::create_directory(folder / last, ignored);
  }
  fuzz::Open((folder / opened).string());
  fuzz::Play(data[0] >> 5);
  return 0;
}
