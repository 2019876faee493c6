// Sequences: a folder of files whose names and contents come from the input, one of them opened
// as the user would, the frame loaded through the size handshake, then a few playback steps.
//
// Input: one control byte, the name opened, then the files of the folder:
//   control bits 0-1  ScaleShift
//           bit 2, 3  HDR-to-SDR, BT.709
//           bit 4     the last file is made a sub-folder instead
//           bits 5-7  playback steps after the open
//   opened name       up to a zero byte (the folder is put in front of it)
//   each file         its name up to a zero byte, the length of its contents (16 bits,
//                     big-endian, cut to what the input holds), the contents
// A "/" in a name becomes "_": the folder part is the harness's, only the names are the input's.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz_common.h"
#include "sequence/sequence.h"

namespace {

constexpr int kMaxFiles = 64;
constexpr uint32_t kFileBytesPerPixel = 6;

std::string Name(const uint8_t*& at, const uint8_t* end) {
  std::string text;
  for (; at < end && *at != 0; ++at) text += *at == '/' ? '_' : char(*at);
  if (at < end) ++at;  // the zero byte
  return text;
}

std::string Contents(const uint8_t*& at, const uint8_t* end) {
  if (end - at < 2) {
    at = end;
    return {};
  }
  const size_t wanted = size_t(at[0]) << 8 | at[1];
  at += 2;
  const size_t length = wanted < size_t(end - at) ? wanted : size_t(end - at);
  at += length;
  return std::string(reinterpret_cast<const char*>(at - length), length);
}

void CheckSequenceState() {
  if (std::memchr(Viewer.Path, 0, kPathBufferSize) == nullptr) fuzz::Broken("path unterminated");
  if (Viewer.NamePart < 0 || Viewer.NamePart >= kPathBufferSize) fuzz::Broken("name part");
  const bool inList = Viewer.CurrentFrame >= 0 && Viewer.CurrentFrame < Viewer.FrameCount;
  if (Viewer.FrameCount > 0 && !inList) fuzz::Broken("current frame outside the sequence");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  fuzz::StartRun(control, 16, 8);

  const std::filesystem::path folder = fuzz::ScratchFolder() / "seq";
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directory(folder, ignored);

  const uint8_t* at = data + 1;
  const uint8_t* const end = data + size;
  const std::string opened = Name(at, end);
  std::string lastName;
  for (int k = 0; k < kMaxFiles && at < end; ++k) {
    const std::string name = Name(at, end);
    const std::string contents = Contents(at, end);
    if (name.empty() || name == "." || name == "..") continue;
    fuzz::WriteScratchFile("seq/" + name, reinterpret_cast<const uint8_t*>(contents.data()),
                           contents.size());
    lastName = name;
  }
  if ((control & 0x10) != 0 && !lastName.empty()) {
    std::filesystem::remove(folder / lastName, ignored);
    std::filesystem::create_directory(folder / lastName, ignored);
  }

  // The shell refuses a longer path; its first 259 characters stand in for it here.
  std::string path = (folder / opened).string();
  if (path.size() >= size_t(kPathBufferSize)) path.resize(kPathBufferSize - 1);
  fuzz::SetPath(path);

  // OpenSequence without its message box, then the shell's side of the handshake.
  int32_t loaded = -1;
  if (ScanSequence() == 0) {
    CheckSequenceState();
    loaded = fuzz::Checked(LoadFrame());
  }
  if (loaded != 0) Viewer.FrameCount = 0;
  if (loaded == 0 && FrameBufferNeedsRefit() && fuzz::Refit(kFileBytesPerPixel)) {
    fuzz::Checked(LoadFrame());
  }
  CheckSequenceState();

  // Playback: each tick moves one frame on, wrapping, and loads without the handshake.
  for (int step = 0; step < (control >> 5) && Viewer.FrameCount > 0; ++step) {
    Viewer.CurrentFrame = (Viewer.CurrentFrame + 1) % Viewer.FrameCount;
    fuzz::Checked(LoadFrame());
    CheckSequenceState();
  }
  return 0;
}
