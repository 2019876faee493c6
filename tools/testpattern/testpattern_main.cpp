// zelkora-testpattern: writes test sequences in the three layouts the viewer reads, all showing
// the same picture (see pattern.h), so that orientation, decimation and colour can be judged
// at a glance and compared across layouts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "tools/testpattern/dpx_file.h"
#include "tools/testpattern/pattern_files.h"
#include "tools/testpattern/planar_file.h"
#include "zelkora_version.h"

// OUTDIR/dpx, planes, mov and sequence: the starting inputs of the fuzz targets.
int WriteFuzzSeeds(const std::string& outDir);

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: zelkora-testpattern --format dpx|planar|mov [--size 4k|8k] [--frames N]\n"
    "                           [--first NUMBER] [--mdat64] [--moov-first] OUTDIR NAME\n"
    "       zelkora-testpattern --seeds OUTDIR\n"
    "\n"
    "Writes N frames (default 1) of a test picture, numbered from NUMBER (default 1), and\n"
    "prints the name of every file written:\n"
    "  dpx     OUTDIR/NAME_0001.dpx ...      16-bit RGB DPX, one file a frame\n"
    "  planar  OUTDIR/NAME_0001.4K.r .g .b   headerless 16-bit planes (8K for --size 8k)\n"
    "  mov     OUTDIR/NAME.mov               QuickTime, v210 frames, BT.2020 YCbCr\n"
    "Frame numbers in file names have at least four digits. --size: 4k is 3840 x 2160\n"
    "(the default), 8k is 7680 x 4320. OUTDIR is created when missing.\n"
    "\n"
    "Movie options:\n"
    "  --mdat64      64-bit mdat size (used anyway when the frames pass 4 GiB)\n"
    "  --moov-first  put the moov atom before the mdat atom\n"
    "\n"
    "--seeds writes the starting inputs of the fuzz targets into OUTDIR (tests/fuzz/run.sh).\n"
    "--version prints the version, the viewer's.\n"
    "\n"
    "The picture: colour bars with the frame number in large digits; a marker in the top-left\n"
    "corner (white square with a red one in its top-left corner); the bars at 75 %; eight\n"
    "mid-saturation patches, which show what Convert to BT.709 and HDR to SDR do; at the\n"
    "right edge of bars and patches, white lines on the rows kept at 1/8 (every 8th row\n"
    "counted from the bottom);\n"
    "a grey ramp; along the bottom, white lines on columns 0, 8, 16, ...\n"
    "All values are 10-bit narrow-range codes, 64 (black) to 940 (white).\n";

enum class Layout { None, Dpx, Planar, Mov };

struct PatternJob {
  int32_t Width;
  int32_t Height;
  int32_t Frames;       // at least 1
  int32_t FirstNumber;  // number of the first frame: in its file name and in the picture
  bool Mdat64;
  bool MoovFirst;
  std::string OutDir;
  std::string Name;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "zelkora-testpattern: %s\n", problem);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

bool ParseNumber(const char* text, int32_t lowest, int32_t& value) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < lowest || v > 99999999) return false;
  value = int32_t(v);
  return true;
}

// "NAME_0001": at least four digits, more when the number needs them.
std::string FrameFileStem(const PatternJob& job, int32_t frameIndex) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", int(job.FirstNumber + frameIndex));
  return job.Name + "_" + number;
}

// Each returns whether every file was written; a failure has been reported, and every file
// written is named on stdout, one a line, so that a script or a person knows what to open.

bool WriteAndName(const std::string& path, const RowFile& file) {
  if (!WriteRowFile(path, file)) return false;
  std::printf("%s\n", path.c_str());
  return true;
}

// OUTDIR/NAME_0001.dpx ...
bool WriteDpxSequence(const PatternJob& job) {
  for (int32_t i = 0; i < job.Frames; ++i) {
    const std::string fileName = FrameFileStem(job, i) + ".dpx";
    RowFile file = PatternDpx(job.Width, job.Height, job.FirstNumber + i);
    file.Head = DpxHeader(uint32_t(job.Width), uint32_t(job.Height), fileName, uint32_t(i + 1),
                          uint32_t(job.Frames));
    if (!WriteAndName(job.OutDir + "/" + fileName, file)) return false;
  }
  return true;
}

// OUTDIR/NAME_0001.4K.r, .g, .b ...
bool WritePlanarSequence(const PatternJob& job) {
  for (int32_t i = 0; i < job.Frames; ++i) {
    const std::string stem = job.OutDir + "/" + FrameFileStem(job, i) + PlanarSizeTag(job.Width);
    for (int32_t plane = 0; plane < 3; ++plane) {
      const RowFile file = PatternPlane(job.Width, job.Height, job.FirstNumber + i, plane);
      if (!WriteAndName(stem + "rgb"[plane], file)) return false;
    }
  }
  return true;
}

// OUTDIR/NAME.mov
bool WriteMovie(const PatternJob& job) {
  const MovieInfo movie = {job.Width, job.Height, uint32_t(job.Frames), job.Mdat64, job.MoovFirst};
  return WriteAndName(job.OutDir + "/" + job.Name + ".mov", PatternMovie(movie, job.FirstNumber));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--seeds") == 0) {
    return WriteFuzzSeeds(argv[2]) == 0 ? 0 : kExitFailed;
  }
  PatternJob job = {3840, 2160, 1, 1, false, false, "", ""};
  Layout layout = Layout::None;
  int names = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(arg, "--version") == 0) {
      std::printf("zelkora-testpattern %s\n", ZELKORA_VERSION);
      return 0;
    } else if (std::strcmp(arg, "--format") == 0 && hasValue) {
      const char* f = argv[++i];
      layout = std::strcmp(f, "dpx") == 0      ? Layout::Dpx
               : std::strcmp(f, "planar") == 0 ? Layout::Planar
               : std::strcmp(f, "mov") == 0    ? Layout::Mov
                                               : Layout::None;
      if (layout == Layout::None) return Usage("--format takes dpx, planar or mov");
    } else if (std::strcmp(arg, "--size") == 0 && hasValue) {
      const char* s = argv[++i];
      if (std::strcmp(s, "4k") == 0 || std::strcmp(s, "4K") == 0) {
        job.Width = 3840;
        job.Height = 2160;
      } else if (std::strcmp(s, "8k") == 0 || std::strcmp(s, "8K") == 0) {
        job.Width = 7680;
        job.Height = 4320;
      } else {
        return Usage("--size takes 4k or 8k");
      }
    } else if (std::strcmp(arg, "--frames") == 0 && hasValue) {
      if (!ParseNumber(argv[++i], 1, job.Frames)) return Usage("--frames takes a number from 1");
    } else if (std::strcmp(arg, "--first") == 0 && hasValue) {
      if (!ParseNumber(argv[++i], 0, job.FirstNumber))
        return Usage("--first takes a number from 0");
    } else if (std::strcmp(arg, "--mdat64") == 0) {
      job.Mdat64 = true;
    } else if (std::strcmp(arg, "--moov-first") == 0) {
      job.MoovFirst = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      const bool takesValue = std::strcmp(arg, "--format") == 0 ||
                              std::strcmp(arg, "--size") == 0 ||
                              std::strcmp(arg, "--frames") == 0 || std::strcmp(arg, "--first") == 0;
      const std::string problem =
          takesValue ? arg + std::string(" needs a value") : "unknown option " + std::string(arg);
      return Usage(problem.c_str());
    } else if (names == 0) {
      job.OutDir = arg;
      ++names;
    } else if (names == 1) {
      job.Name = arg;
      ++names;
    } else {
      return Usage("too many arguments");
    }
  }
  if (layout == Layout::None) return Usage("no --format");
  // A movie option on frame files would be quietly ignored, and the user would not get the
  // file they asked for.
  if (layout != Layout::Mov && (job.Mdat64 || job.MoovFirst)) {
    return Usage(job.Mdat64 ? "--mdat64 applies to --format mov only"
                            : "--moov-first applies to --format mov only");
  }
  if (names != 2) return Usage("OUTDIR and NAME are both needed");
  if (int64_t(job.FirstNumber) + job.Frames - 1 > 99999999) return Usage("frame numbers too large");

  std::error_code error;
  std::filesystem::create_directories(job.OutDir, error);
  if (error) {
    std::fprintf(stderr, "Can't create %s\n", job.OutDir.c_str());
    return kExitFailed;
  }
  const bool written = layout == Layout::Dpx      ? WriteDpxSequence(job)
                       : layout == Layout::Planar ? WritePlanarSequence(job)
                                                  : WriteMovie(job);
  return written ? 0 : kExitFailed;
}
