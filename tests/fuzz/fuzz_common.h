// Shared by the fuzz targets: a scratch folder in RAM for the files a run writes, a freshly
// started viewer, and the shell's open road and playback, with the promises every run keeps
// besides the sanitizers' own.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "sequence/sequence.h"

namespace fuzz {

// <$ZELKORA_FUZZ_DIR or /dev/shm>/zelkora-fuzz-<pid>: libFuzzer's -jobs workers never share a
// file. Left for run.sh to remove: a worker killed by a finding runs no clean-up.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    const char* base = std::getenv("ZELKORA_FUZZ_DIR");
    auto own = std::filesystem::path(base ? base : "/dev/shm") /
               ("zelkora-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(own);
    return own;
  }();
  return folder;
}

inline std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = (ScratchFolder() / name).string();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  return path;
}

inline void Promise(bool kept, const char* what) {
  if (kept) return;
  std::fprintf(stderr, "fuzz: promise broken: %s\n", what);
  std::abort();
}

// A fresh viewer showing 64 x 32, with the ScaleShift (control bits 0-1) and the colour
// options (bits 2, 3) of the control byte.
inline void StartRun(uint8_t control) {
  ResetViewerState();
  Viewer.ScaleShift = control & 3;
  Viewer.HdrToSdr = (control >> 2) & 1;
  Viewer.Bt709 = (control >> 3) & 1;
  Viewer.SourceWidth = 64;
  Viewer.SourceHeight = 32;
  ResetFrameBuffer();
}

// After any open or load: a source size a reader may set, a terminated path, and an open
// sequence whose frame is in it and whose bitmap fits the source.
inline void CheckState() {
  Promise(Viewer.SourceWidth >= 0 && Viewer.SourceWidth <= kMaxSourceWidth &&
              Viewer.SourceHeight >= 0 && Viewer.SourceHeight <= kMaxSourceHeight,
          "source size outside 0..7680 x 0..4320");
  Promise(strnlen(Viewer.Path, kPathBufferSize) < kPathBufferSize, "path unterminated");
  const bool open = Viewer.FrameCount > 0;
  Promise(!open || Viewer.Kind == Mov ||
              (Viewer.CurrentFrame >= 0 && Viewer.CurrentFrame < Viewer.FrameCount),
          "current frame outside the sequence");
  Promise(!open || !FrameBufferNeedsRefit(), "bitmap left at another size");
}

inline void Open(const std::string& path) {
  OpenPath(path.c_str());
  CheckState();
}

// `ticks` playback steps of one frame each, wrapping, as the timer makes them.
inline void Play(int ticks) {
  for (int k = 0; k < ticks && Viewer.FrameCount > 0; ++k) {
    Viewer.CurrentFrame = (Viewer.CurrentFrame + 1) % Viewer.FrameCount;
    bool rebuilt = false;
    ShowFrame(rebuilt);
    CheckState();
  }
}

}  // namespace fuzz

// Once, before the first input: the colour tables, and both BT.709 lookups filled, as a viewer
// that has shown both combinations holds them. Filling one takes longer than a run may.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildColourTables();
  PrepareColourStage(false, true);
  PrepareColourStage(true, true);
  return 0;
}
