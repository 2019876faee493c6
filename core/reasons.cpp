#include "core/reasons.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/viewer_state.h"
#include "platform/code_page.h"

namespace {

// Short enough that a fact stands whole beside the start or the end of a long name: the box
// and the status bar show a file name, then this.
const char* const kReasonTexts[kReasonCount] = {
    "the path is longer than 259 bytes",
    "no such file",
    "not enough memory to list %d files",
    "the folder and the name are longer than 259 bytes together",
    "not a kind of file the viewer reads; it reads .dpx, .mov and .r .g .b planes",
    "can't be opened",
    "no frame %d in the sequence; its frame count is %d",
    "the display bitmap is not made for this frame's size",
    "%d bytes, too short for a DPX header",
    "not a DPX file (no SDPX at its start)",
    "%d image elements; DPX has at most 8",
    "image element %d has another layout than the first",
    "DPX with signed samples is not read",
    "run-length encoded DPX is not read",
    "DPX in %s (descriptor %d) is not read; RGB and RGBA are",
    "DPX packing %d is not read; 0, 1 and 2 are",
    "DPX orientation %d (rows turned into columns) is not read; 0 to 3 are",
    "DPX with %d-bit samples is not read; 8, 10, 12 and 16 bits are",
    "the header says %u x %u, larger than 7680 x 4320",
    "no size before the plane letter, as in clip.4K.r or clip.8K.r",
    "the %s plane is missing",
    "no frames found in the movie",
    "a fragmented movie (moof) is not read",
    "the movie has no picture track",
    "the picture track is %s ('%s'); only uncompressed v210 is read",
    "the picture track is '%s'; only uncompressed v210 is read",
    "the picture track says %d x %d; 1 x 1 to 7680 x 4320 are read",
    "the movie has %u frames, more than 2097152",
    "the sample tables are cut short",
    "the sample tables contradict each other",
    "frame %u is %u bytes, shorter than its rows (%u)",
    "frames of %u bytes name no v210 size; 3840 x 2160 and 7680 x 4320 are read",
    "no frame %d in the movie; its frame count is %d",
    "not enough memory",
};

constexpr char kCut[] = "...";
constexpr size_t kMaxFact = 200;  // the rest is the name's

// A character whole: both bytes of a double-byte one, or every byte of a UTF-8 sequence, so
// that a name cut short never begins inside a character.
size_t CharacterBytes(const char* c) {
  size_t n = PlatformCharLength(c);
  if (n == 1 && uint8_t(*c) >= 0xC0) {
    while ((uint8_t(c[n]) & 0xC0) == 0x80) ++n;
  }
  return n;
}

}  // namespace

void ClearReason() {
  Viewer.Reason[0] = '\0';
  Viewer.ReasonFact = 0;
}

void SetReason(ReasonId id, const char* path, ...) {
  char fact[kReasonBufferSize];
  va_list arguments;
  va_start(arguments, path);
  const int written = std::vsnprintf(fact, sizeof fact, kReasonTexts[id], arguments);
  va_end(arguments);
  if (written < 0) fact[0] = '\0';
  fact[kMaxFact] = '\0';

  const char* name = path;
  for (const char* c = path; *c != '\0'; c += PlatformCharLength(c)) {
    if (PlatformIsSeparator(*c)) name = c + 1;
  }
  // The fact is kept whole; a name that leaves it no room keeps its end, where the frame number
  // and the extension stand. Every text of the list is far shorter than the buffer.
  const size_t factLength = std::strlen(fact);
  const size_t room = sizeof Viewer.Reason - 1 - 2 - factLength;
  size_t nameLength = std::strlen(name);
  char* out = Viewer.Reason;
  if (nameLength > room) {
    std::memcpy(out, kCut, sizeof kCut - 1);
    out += sizeof kCut - 1;
    while (nameLength > room - (sizeof kCut - 1)) {
      const size_t bytes = CharacterBytes(name);
      name += bytes;
      nameLength -= bytes;
    }
  }
  std::memcpy(out, name, nameLength);
  out += nameLength;
  std::memcpy(out, ": ", 2);
  out += 2;
  Viewer.ReasonFact = int32_t(out - Viewer.Reason);
  std::memcpy(out, fact, factLength + 1);
}
