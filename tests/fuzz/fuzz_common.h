// Shared by the fuzz targets: a scratch folder in RAM for the files a run writes, the viewer
// state of one run, and the checks every run must pass besides the sanitizers' own.
//
// Each target drives the real readers through the platform layer, exactly as the viewer does:
// the fuzz input becomes one or more files, the path buffer names them, the reader opens them.
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

namespace fuzz {

// Bits of the control byte, the first of the input, that turn the colour options on.
constexpr uint8_t kHdrToSdrBit = 0x04;
constexpr uint8_t kBt709Bit = 0x08;

// Files of one process live in <base>/<pid>: runs of several targets, or libFuzzer's -jobs
// workers, never share a file. The base is $ZELKORA_FUZZ_DIR (run.sh sets it), else /dev/shm
// (RAM: a million runs write a million files), else the system's temporary folder.
inline const std::filesystem::path& ScratchFolder() {
  // Never destroyed: the clean-up at exit still needs it.
  static const std::filesystem::path* const folder = [] {
    std::filesystem::path base;
    if (const char* chosen = std::getenv("ZELKORA_FUZZ_DIR")) {
      base = chosen;
    } else if (std::filesystem::is_directory("/dev/shm")) {
      base = "/dev/shm/zelkora-fuzz";
    } else {
      base = std::filesystem::temp_directory_path() / "zelkora-fuzz";
    }
    auto* own = new std::filesystem::path(base / std::to_string(getpid()));
    std::filesystem::create_directories(*own);
    return own;
  }();
  static const bool cleanUpAtExit = std::atexit([] {
                                      std::error_code ignored;
                                      std::filesystem::remove_all(*folder, ignored);
                                    }) == 0;
  (void)cleanUpAtExit;
  return *folder;
}

inline std::string WriteScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = (ScratchFolder() / name).string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  return path;
}

inline void RemoveScratchFile(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(ScratchFolder() / name, ignored);
}

// A finding that no sanitizer would report: a broken promise of the reader contract.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "fuzz: reader contract broken: %s\n", what);
  std::abort();
}

// The state of a freshly started viewer, then the ScaleShift and colour options of the control
// byte, and a previous source size already shown (the bitmap sized for it).
inline void StartRun(uint8_t control, int32_t width, int32_t height) {
  static const bool tablesBuilt = (BuildColourTables(), true);
  (void)tablesBuilt;
  ResetViewerState();
  Viewer.ScaleShift = control & 3;
  Viewer.HdrToSdr = (control & kHdrToSdrBit) != 0;
  Viewer.Bt709 = (control & kBt709Bit) != 0;
  Viewer.SourceWidth = width;
  Viewer.SourceHeight = height;
  ResetFrameBuffer();
}

inline bool SetPath(const std::string& path) {
  if (path.size() >= sizeof Viewer.Path) return false;
  std::memcpy(Viewer.Path, path.c_str(), path.size() + 1);
  return true;
}

// Every reader call: the result is 0 or -1, and the source size stays one that a reader may
// set, whatever the file said.
inline int32_t Checked(int32_t result) {
  if (result != 0 && result != -1) Broken("result other than 0 and -1");
  if (Viewer.SourceWidth < 0 || Viewer.SourceWidth > kMaxSourceWidth || Viewer.SourceHeight < 0 ||
      Viewer.SourceHeight > kMaxSourceHeight) {
    Broken("source size outside 0..7680 x 0..4320");
  }
  return result;
}

// Keeps a run in the milliseconds: a frame is decoded only when the shown pixels and the bytes
// of the shown rows stay small. Bigger frames still go through the size handshake; their decode
// is the same row walk at more rows, which the unit tests run at the real 4K and 8K sizes.
inline bool CheapToDecode(int32_t width, int32_t height, int32_t shift,
                          uint32_t fileBytesPerPixel) {
  const uint64_t shownRows = uint64_t(height) >> shift;
  return (uint64_t(width) >> shift) * shownRows <= (1u << 12) &&
         shownRows * uint64_t(width) * fileBytesPerPixel <= (1u << 20);
}
inline bool CheapToDecode(uint32_t fileBytesPerPixel) {
  return CheapToDecode(Viewer.SourceWidth, Viewer.SourceHeight, Viewer.ScaleShift,
                       fileBytesPerPixel);
}

// The shell's side of the size handshake after a load: rebuild the bitmap when the shifted
// source size no longer matches it. False when the new frame is too big to decode here.
inline bool Refit(uint32_t fileBytesPerPixel) {
  if (!FrameBufferNeedsRefit()) return true;
  if (!CheapToDecode(fileBytesPerPixel)) return false;
  ResetFrameBuffer();
  return true;
}

}  // namespace fuzz
