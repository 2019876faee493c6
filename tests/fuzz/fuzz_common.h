// Shared by the fuzz targets: a scratch folder in RAM for the files a run writes, a freshly
// started viewer, and the open road the shell takes, with the promises every run must keep
// besides the sanitizers' own.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "sequence/sequence.h"

namespace fuzz {

// Files of one process live in <base>/<pid>, base $ZELKORA_FUZZ_DIR (run.sh sets it) or
// /dev/shm: a million runs write a million files, and -jobs workers never share one.
inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path* const folder = [] {
    const char* chosen = std::getenv("ZELKORA_FUZZ_DIR");
    auto* own = new std::filesystem::path(std::filesystem::path(chosen ? chosen : "/dev/shm") /
                                          ("zelkora-fuzz-" + std::to_string(getpid())));
    std::filesystem::create_directories(*own);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    return own;
  }();
  return *folder;
}

inline std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = (ScratchFolder() / name).string();
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  return path;
}

[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "fuzz: promise broken: %s\n", what);
  std::abort();
}

// A freshly started viewer showing a small picture, with the ScaleShift (bits 0-1) and the
// colour options (bits 2, 3) of the control byte.
inline void StartRun(uint8_t control) {
  static const bool tablesBuilt = (BuildColourTables(), true);
  (void)tablesBuilt;
  ResetViewerState();
  Viewer.ScaleShift = control & 3;
  Viewer.HdrToSdr = (control >> 2) & 1;
  Viewer.Bt709 = (control >> 3) & 1;
  Viewer.SourceWidth = 64;
  Viewer.SourceHeight = 32;
  ResetFrameBuffer();
}

// The viewer's state after any open or load: a source size a reader may set, a terminated
// path, and an open sequence whose frame is in it and whose bitmap fits the source.
inline void CheckState() {
  if (Viewer.SourceWidth < 0 || Viewer.SourceWidth > kMaxSourceWidth || Viewer.SourceHeight < 0 ||
      Viewer.SourceHeight > kMaxSourceHeight) {
    Broken("source size outside 0..7680 x 0..4320");
  }
  if (strnlen(Viewer.Path, kPathBufferSize) == kPathBufferSize) Broken("path unterminated");
  if (Viewer.FrameCount > 0 && Viewer.Kind != Mov &&
      (Viewer.CurrentFrame < 0 || Viewer.CurrentFrame >= Viewer.FrameCount)) {
    Broken("current frame outside the sequence");
  }
  if (Viewer.FrameCount > 0 && FrameBufferNeedsRefit()) Broken("bitmap left at another size");
}

// The shell's open road.
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
