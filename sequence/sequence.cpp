// From one opened path to a sequence of frame files, and loading its frames.
//
// A sequence is the set of files of one folder whose names differ only in the frame number that
// stands just before a dot: shot_0001.dpx ... shot_0100.dpx, or clip.0005.4K.r for the planes of
// a planar frame. A movie is one file holding every frame.
#include "sequence/sequence.h"

#include <cstdlib>
#include <cstring>

#include "core/frame_buffer.h"
#include "core/viewer_state.h"
#include "formats/dpx_reader.h"
#include "formats/mov_atoms.h"
#include "formats/rgb_planes_reader.h"
#include "formats/v210_reader.h"
#include "platform/dir_search.h"
#include "platform/error_box.h"
#include "platform/heap.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Both separators end the folder part: a path written with "/" must not make a load read a
// file of the working folder, and posix paths have nothing else.
bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const char* text, const char* lowerLiteral) {
  for (; *lowerLiteral != '\0'; ++text, ++lowerLiteral) {
    if (FoldCase(*text) != *lowerLiteral) return false;
  }
  return *text == '\0';
}

void ClassifyExtension(const char* extension) {
  if (extension[0] != '\0' && extension[1] == '\0' && std::strchr("rgbRGB", extension[0])) {
    Viewer.Kind = RgbPlanes;
  } else if (EqualsIgnoringCase(extension, "dpx")) {
    Viewer.Kind = Dpx;
  } else if (EqualsIgnoringCase(extension, "mov")) {
    Viewer.Kind = Mov;
  }
}

// Walks the pattern backwards from its end: classifies the extension at the last dot, turns the
// digits before every dot into "?" and finds where the name begins. A movie keeps its digits:
// scene01.mov and scene02.mov are two movies, not two frames.
void BuildPattern(char* pattern) {
  int32_t i = int32_t(std::strlen(pattern)) - 1;
  while (i >= 0) {
    const char c = pattern[i];
    if (IsSeparator(c)) {
      Viewer.NamePart = i + 1;
      return;
    }
    if (c != '.') {
      --i;
      continue;
    }
    ClassifyExtension(pattern + i + 1);
    int32_t j = i;
    while (j > 0 && IsDigit(pattern[j - 1])) {
      --j;
      if (Viewer.Kind != Mov) pattern[j] = '?';
    }
    if (j == 0) return;
    // The character that stopped the digit run is passed over: in take01.0012.dpx the dot before
    // 0012 does not wildcard the 01 of take01.
    if (IsSeparator(pattern[j - 1])) {
      Viewer.NamePart = j;
      return;
    }
    i = j - 2;
  }
}

// Frame order: digit runs compared by value, so 999 comes before 1000 and 2 before 10, whatever
// order the file system enumerates in; names equal by value fall back to their bytes.
int CompareFrameNames(const char* a, const char* b) {
  const char* const aStart = a;
  const char* const bStart = b;
  while (*a != '\0' && *b != '\0') {
    if (IsDigit(*a) && IsDigit(*b)) {
      while (*a == '0') ++a;
      while (*b == '0') ++b;
      size_t aDigits = 0, bDigits = 0;
      while (IsDigit(a[aDigits])) ++aDigits;
      while (IsDigit(b[bDigits])) ++bDigits;
      if (aDigits != bDigits) return aDigits < bDigits ? -1 : 1;
      const int byValue = std::memcmp(a, b, aDigits);
      if (byValue != 0) return byValue;
      a += aDigits;
      b += bDigits;
      continue;
    }
    if (*a != *b) return (unsigned char)*a < (unsigned char)*b ? -1 : 1;
    ++a;
    ++b;
  }
  if (*a != *b) return *a == '\0' ? -1 : 1;
  return std::strcmp(aStart, bStart);
}

int CompareEntries(const void* a, const void* b) {
  return CompareFrameNames(static_cast<const char*>(a), static_cast<const char*>(b));
}

int32_t Stride() {
  return Viewer.LongestName + 1;
}

// Keeps the list block below 2 GiB even with names of the longest kind.
constexpr int32_t kMaxListedFiles = 0x7FFFFFFF / kPathBufferSize;

}  // namespace

const char* FrameListEntry(int32_t k) {
  return Viewer.FrameList + size_t(k) * size_t(Stride());
}

int32_t ScanSequence() {
  Viewer.Kind = Unknown;
  Viewer.LongestName = 0;
  Viewer.FrameCount = 0;
  Viewer.Path[kPathBufferSize - 1] = '\0';
  char* const pattern = Viewer.Scratch;
  std::memcpy(pattern, Viewer.Path, kPathBufferSize);
  Viewer.NamePart = 0;
  BuildPattern(pattern);

  // First pass: count and measure, so the list is one block of exactly the right size.
  char name[kPlatformNameSize];
  PlatformSearch search = PlatformFindFirst(pattern, name);
  if (search == nullptr) return -1;
  int32_t counted = 0;
  int32_t longest = 0;
  do {
    const int32_t length = int32_t(std::strlen(name));
    if (length > longest) longest = length;
    ++counted;
  } while (counted < kMaxListedFiles && PlatformFindNext(search, name));
  PlatformFindClose(search);

  PlatformFree(Viewer.FrameList);
  Viewer.FrameList = static_cast<char*>(PlatformAllocZeroed(size_t(counted) * size_t(longest + 1)));
  Viewer.CurrentFrame = 0;
  if (Viewer.FrameList == nullptr) return -1;
  Viewer.LongestName = longest;

  // Second pass: the folder may have changed since the first. Only what the block was sized for
  // is kept: no more entries than counted, no name longer than the stride.
  search = PlatformFindFirst(pattern, name);
  if (search == nullptr) return -1;
  int32_t stored = 0;
  do {
    const size_t length = std::strlen(name);
    if (length > size_t(longest)) continue;
    std::memcpy(Viewer.FrameList + size_t(stored) * size_t(Stride()), name, length + 1);
    ++stored;
  } while (stored < counted && PlatformFindNext(search, name));
  PlatformFindClose(search);
  Viewer.FrameCount = stored;
  if (stored == 0) return -1;

  std::qsort(Viewer.FrameList, size_t(stored), size_t(Stride()), CompareEntries);
  const char* const opened = Viewer.Path + Viewer.NamePart;
  for (int32_t k = 0; k < stored; ++k) {
    if (std::strcmp(FrameListEntry(k), opened) == 0) {
      Viewer.CurrentFrame = k;
      break;
    }
  }

  if (Viewer.Kind == Mov) {
    // The list holds the opened movie alone (a file system that ignores case can list another
    // spelling of it beside it): the frames read are always the opened movie's.
    if (Viewer.CurrentFrame != 0) {
      std::memcpy(Viewer.FrameList, FrameListEntry(Viewer.CurrentFrame), size_t(Stride()));
    }
    Viewer.CurrentFrame = 0;
    Viewer.FrameCount = ScanMovAtoms();
  }
  return 0;
}

int32_t LoadFrame() {
  const int32_t entry = Viewer.Kind == Mov ? 0 : Viewer.CurrentFrame;
  if (entry < 0 || entry >= Viewer.FrameCount || Viewer.FrameList == nullptr) return -1;
  const char* const name = FrameListEntry(entry);
  const size_t length = std::strlen(name);
  // The folder part and the listed name must fit the path buffer together.
  if (size_t(Viewer.NamePart) + length + 1 > size_t(kPathBufferSize)) return -1;
  std::memcpy(Viewer.Path + Viewer.NamePart, name, length + 1);
  switch (Viewer.Kind) {
    case Dpx:
      return ReadDpxFrame();
    case RgbPlanes:
      return ReadRgbPlanesFrame();
    case Mov:
      return ReadMovFrame();
    default:
      return -1;
  }
}

bool TakeOpenPath(const char* text) {
  if (*text == '"') ++text;
  size_t length = 0;
  while (text[length] != '\0' && text[length] != '"') ++length;
  if (length >= sizeof Viewer.Path) return false;
  std::memcpy(Viewer.Path, text, length);
  Viewer.Path[length] = '\0';
  return true;
}

int32_t ShowFrame(bool& rebuilt) {
  const int32_t widthBefore = Viewer.SourceWidth;
  const int32_t heightBefore = Viewer.SourceHeight;
  const int32_t result = LoadFrame();
  // A frame of another size was only measured by its reader: the bitmap is brought to it when
  // the shifted size changed, and the frame loaded again, now to be decoded. A new size that
  // shifts to the same bitmap is loaded again too, or the frame would not be decoded at all.
  rebuilt = FrameBufferNeedsRefit();
  if (rebuilt) {
    ResetFrameBuffer();
  } else if (Viewer.SourceWidth == widthBefore && Viewer.SourceHeight == heightBefore) {
    return result;
  }
  return LoadFrame();
}

bool OpenSequence() {
  bool rebuilt = false;
  if (ScanSequence() != 0) {
    FailOpen(kCantOpenMessage);
  } else if (ShowFrame(rebuilt) != 0) {
    FailOpen(kInvalidImageMessage);
  }
  Viewer.PlaybackStep = 0;
  return rebuilt;
}

bool OpenPath(const char* text) {
  if (!TakeOpenPath(text)) {
    FailOpen(kCantOpenMessage);
    return false;
  }
  return OpenSequence();
}

void FailOpen(const char* message) {
  PlatformShowError(message);
  Viewer.FrameCount = 0;
  Viewer.PlaybackStep = 0;
}
