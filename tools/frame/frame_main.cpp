// zelkora-frame: opens a file the way the viewer does and writes the bitmap it would show.
//
// The open road is the viewer's own (scan, load, the size handshake), minus the window and the
// message box: the same pixels end up in the same bitmap, so an exported frame is what a user
// would see, byte for byte.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "colour/colour.h"
#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "formats/row_walk.h"
#include "platform/error_box.h"
#include "platform/workers.h"
#include "sequence/sequence.h"
#include "tools/frame/image_writer.h"
#include "zelkora_version.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: zelkora-frame [--size 1|2|4|8] [--bt709] [--hdr-to-sdr] [--frame N] [--list]\n"
    "                     INPUT [OUTPUT]\n"
    "       zelkora-frame --version\n"
    "\n"
    "Opens INPUT as the viewer does (its whole sequence is found in its folder) and writes\n"
    "the picture the viewer would show to OUTPUT, a .ppm (binary P6) or .png file.\n"
    "\n"
    "  --size D      display size 1/D: 1, 2, 4 (the default) or 8\n"
    "  --bt709       convert BT.2020 primaries to BT.709\n"
    "  --hdr-to-sdr  tone-map HLG to SDR (applied before --bt709)\n"
    "  --frame N     frame N of the sequence, counted from 0 in playback order (for a\n"
    "                movie, the frame inside it); default: the frame of INPUT itself\n"
    "  --list        print the frame count, then the sequence's file names in playback\n"
    "                order, one a line; OUTPUT may then be left out\n"
    "  --version     print the version, the viewer's\n"
    "\n"
    "On failure the viewer's own message, then the reason, goes to stderr and the\n"
    "exit code is 1; a usage error exits with 2. A frame whose file ends early is\n"
    "written with the missing rows black, as the viewer shows it, and a warning on\n"
    "stderr.\n";

struct Options {
  int32_t ScaleShift = kDefaultScaleShift;
  bool Bt709 = false;
  bool HdrToSdr = false;
  bool HaveFrame = false;
  int32_t Frame = 0;
  bool List = false;
  const char* Input = nullptr;
  const char* Output = nullptr;
};

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "zelkora-frame: %s\n", problem);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// As the viewer's box says it: the message, then why.
int Fail(const char* message) {
  PlatformShowError(message, Viewer.Reason);
  return kExitFailed;
}

// The options that take a value, for the message when it is missing.
bool TakesValue(const char* arg) {
  return std::strcmp(arg, "--size") == 0 || std::strcmp(arg, "--frame") == 0;
}

// A whole decimal number in 0..2^31-1, nothing else.
bool ParseCount(const char* text, int32_t& value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (*end != '\0' || v > 0x7FFFFFFF) return false;
  value = int32_t(v);
  return true;
}

// Returns 0 when the arguments make sense, -1 after printing the help or the version, else the
// usage exit code.
int ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return -1;
    } else if (std::strcmp(arg, "--version") == 0) {
      std::puts("zelkora-frame " ZELKORA_VERSION);
      return -1;
    } else if (std::strcmp(arg, "--size") == 0 && hasValue) {
      const char* d = argv[++i];
      const char* const sizes[] = {"1", "2", "4", "8"};
      options.ScaleShift = -1;
      for (int32_t s = 0; s < 4; ++s) {
        if (std::strcmp(d, sizes[s]) == 0) options.ScaleShift = s;
      }
      if (options.ScaleShift < 0) return Usage("--size takes 1, 2, 4 or 8");
    } else if (std::strcmp(arg, "--bt709") == 0) {
      options.Bt709 = true;
    } else if (std::strcmp(arg, "--hdr-to-sdr") == 0) {
      options.HdrToSdr = true;
    } else if (std::strcmp(arg, "--frame") == 0 && hasValue) {
      if (!ParseCount(argv[++i], options.Frame)) return Usage("--frame takes a number from 0");
      options.HaveFrame = true;
    } else if (std::strcmp(arg, "--list") == 0) {
      options.List = true;
    } else if (TakesValue(arg)) {
      char problem[64];
      std::snprintf(problem, sizeof problem, "%s needs a value", arg);
      return Usage(problem);
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "zelkora-frame: unknown option %s\n", arg);
      return Usage(nullptr);
    } else if (options.Input == nullptr) {
      options.Input = arg;
    } else if (options.Output == nullptr) {
      options.Output = arg;
    } else {
      return Usage("too many file names");
    }
  }
  if (options.Input == nullptr) return Usage("no INPUT");
  if (options.Output == nullptr && !options.List) return Usage("no OUTPUT");
  if (options.Output != nullptr && ImageFormatOf(options.Output) == ImageFormat::Unknown) {
    return Usage("OUTPUT must end in .ppm or .png");
  }
  return 0;
}

// For a movie the count is its frames while the list holds the one file read.
void PrintFrameList() {
  std::printf("%d\n", int(Viewer.FrameCount));
  const int32_t entries = Viewer.Kind == Mov ? (Viewer.FrameCount > 0 ? 1 : 0) : Viewer.FrameCount;
  for (int32_t k = 0; k < entries; ++k) std::printf("%s\n", FrameListEntry(k));
  std::fflush(stdout);
}

// The viewer's open road: scan, load, and the size handshake of the shell. Returns the
// viewer's message on failure, null on success; a frame outside the sequence is told its range.
const char* OpenLikeTheViewer(const Options& options) {
  static char outOfRange[96];
  ResetViewerState();
  BuildColourTables();
  Viewer.ScaleShift = options.ScaleShift;
  Viewer.Bt709 = options.Bt709 ? 1 : 0;
  Viewer.HdrToSdr = options.HdrToSdr ? 1 : 0;
  ResetFrameBuffer();

  if (!TakeOpenPath(options.Input) || ScanSequence() != 0) return kCantOpenMessage;
  if (options.HaveFrame) Viewer.CurrentFrame = options.Frame;
  if (options.List) PrintFrameList();
  if (options.Output == nullptr) return nullptr;
  if (options.HaveFrame && Viewer.FrameCount > 0 && options.Frame >= Viewer.FrameCount) {
    std::snprintf(outOfRange, sizeof outOfRange, "--frame %d is out of range: frames 0 to %d",
                  int(options.Frame), int(Viewer.FrameCount - 1));
    return outOfRange;
  }
  bool rebuilt = false;
  if (ShowFrame(rebuilt) != 0) return kInvalidImageMessage;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int parsed = ParseArguments(argc, argv, options); parsed != 0) {
    return parsed < 0 ? 0 : parsed;
  }

  PlatformStartWorkers(PlatformProcessorCount());  // as the viewer decodes: in bands
  if (const char* message = OpenLikeTheViewer(options); message != nullptr) return Fail(message);
  if (options.Output == nullptr) return 0;
  if (const int32_t missing = LastFrameMissingRows(); missing > 0) {
    std::fprintf(stderr, "zelkora-frame: warning: %s ends early: %d of %d rows missing (black)\n",
                 Viewer.Path + Viewer.NamePart, int(missing),
                 int(Viewer.FrameInfo.bmiHeader.biHeight));
  }

  const BitmapView bitmap = {Viewer.FrameInfo.bmiHeader.biWidth,
                             Viewer.FrameInfo.bmiHeader.biHeight, Viewer.FramePixels};
  const bool png = ImageFormatOf(options.Output) == ImageFormat::Png;
  const int32_t written = png ? WritePng(options.Output, bitmap) : WritePpm(options.Output, bitmap);
  if (written != 0) {
    std::fprintf(stderr, "Can't write %s\n", options.Output);
    return kExitFailed;
  }
  return 0;
}
