// From one opened path to a sequence of frame files, and loading its frames.
//
// A sequence is the set of files of one folder whose names differ only in the frame number, the
// last run of digits that stands just before a dot: shot_0001.dpx ... shot_0100.dpx, shot_9 ...
// shot_10000.dpx, or clip.0005.4K.r for the planes of a planar frame. A movie is one file
// holding every frame.
#include "sequence/sequence.h"

#include <cstdlib>
#include <cstring>

#include "core/frame_buffer.h"
#include "core/reasons.h"
#include "core/playback.h"
#include "core/viewer_state.h"
#include "formats/dpx_reader.h"
#include "formats/mov_atoms.h"
#include "formats/rgb_planes_reader.h"
#include "formats/row_walk.h"
#include "formats/v210_reader.h"
#include "platform/code_page.h"
#include "platform/dir_search.h"
#include "platform/error_box.h"
#include "platform/heap.h"
#include "platform/read_queue.h"

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Letter case of A-Z only; a double-byte character is compared as it stands.
bool EqualIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; i += PlatformCharLength(a + i)) {
    if (PlatformCharLength(a + i) == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (FoldCase(a[i]) != FoldCase(b[i])) {
      return false;
    }
  }
  return true;
}

void ClassifyExtension(const char* extension) {
  if (extension[0] != '\0' && extension[1] == '\0' && std::strchr("rgbRGB", extension[0])) {
    Viewer.Kind = RgbPlanes;
  } else if (EqualIgnoringCase(extension, "dpx", 4)) {
    Viewer.Kind = Dpx;
  } else if (EqualIgnoringCase(extension, "mov", 4)) {
    Viewer.Kind = Mov;
  }
}

// Where the frame number stands in a name: the last run of digits just before a dot, as
// [start, end). Every other digit is part of the name: interview_2024.05.01_0001.dpx numbers
// its frames by 0001 alone, and the 2024.05.01 of another day is another sequence. False when
// no run stands before a dot.
bool FindFrameNumber(const char* name, size_t length, size_t& start, size_t& end) {
  bool found = false;
  size_t run = 0;  // where the run of digits ending at c began
  bool inRun = false;
  for (size_t c = 0; c < length; c += PlatformCharLength(name + c)) {
    if (name[c] == '.' && inRun) {
      start = run;
      end = c;
      found = true;
    }
    if (IsDigit(name[c]) && !inRun) run = c;
    inRun = IsDigit(name[c]);
  }
  return found;
}

// The pattern for the folder search: the path with the frame number's run as "*". A "?" per
// digit would miss shot_10000 from shot_9999, and on Windows it matches one character or none,
// so what it finds would depend on the frame opened; "*" finds every frame and more, and the
// names are filtered against the opened one. A movie keeps its digits: scene01.mov and
// scene02.mov are two movies, not two frames. The frame number's place goes to numberStart and
// numberEnd, relative to the name; both are the name's length when nothing is wildcarded.
void BuildPattern(char* pattern, size_t& numberStart, size_t& numberEnd) {
  const size_t length = std::strlen(pattern);
  size_t name = 0;
  const char* extension = nullptr;  // the last dot of the name
  for (size_t c = 0; c < length; c += PlatformCharLength(pattern + c)) {
    if (PlatformIsSeparator(pattern[c])) {
      name = c + 1;
      extension = nullptr;
    } else if (pattern[c] == '.') {
      extension = pattern + c;
    }
  }
  Viewer.NamePart = int32_t(name);
  if (extension != nullptr) ClassifyExtension(extension + 1);

  numberStart = numberEnd = length - name;
  size_t start = 0;
  size_t end = 0;
  if (Viewer.Kind == Mov || !FindFrameNumber(pattern + name, length - name, start, end)) return;
  numberStart = start;
  numberEnd = end;
  pattern[name + start] = '*';
  std::memmove(pattern + name + start + 1, pattern + name + end, length - name - end + 1);
}

// A listed name belongs to the sequence when it is the opened name outside the frame number
// (letter case aside, as the folder search and Windows' file names have it) and a run of digits
// of any length stands where the number stood: shot_9999.dpx and shot_10000.dpx are one
// sequence. The search's "*" also matches shot_x1.dpx or shot_1.dpx.bak; those are not frames.
bool BelongsToSequence(const char* listed, const char* opened, size_t numberStart,
                       size_t numberEnd) {
  const size_t length = std::strlen(listed);
  const size_t tail = std::strlen(opened) - numberEnd;
  if (numberStart == numberEnd)
    return length == numberEnd && EqualIgnoringCase(listed, opened, length);
  if (length < numberStart + 1 + tail) return false;
  for (size_t i = numberStart; i < length - tail; ++i) {
    if (!IsDigit(listed[i])) return false;
  }
  return EqualIgnoringCase(listed, opened, numberStart) &&
         EqualIgnoringCase(listed + length - tail, opened + numberEnd, tail);
}

// Frame order: by the frame number's value, so 999 comes before 1000 and 2 before 10, whatever
// order the file system enumerates in, with any number of leading zeros; names of equal value
// (shot_1 and shot_01) by their bytes. Every listed name has its number where the opened one
// has it, and nothing else differs but letter case, so each name finds its own.
int CompareFrameNames(const char* a, const char* b) {
  size_t aStart = 0, aEnd = 0, bStart = 0, bEnd = 0;
  if (FindFrameNumber(a, std::strlen(a), aStart, aEnd) &&
      FindFrameNumber(b, std::strlen(b), bStart, bEnd)) {
    while (aStart < aEnd && a[aStart] == '0') ++aStart;
    while (bStart < bEnd && b[bStart] == '0') ++bStart;
    if (aEnd - aStart != bEnd - bStart) return aEnd - aStart < bEnd - bStart ? -1 : 1;
    const int byValue = std::memcmp(a + aStart, b + bStart, aEnd - aStart);
    if (byValue != 0) return byValue;
  }
  return std::strcmp(a, b);
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
  ClearReason();
  Viewer.Kind = Unknown;
  Viewer.LongestName = 0;
  Viewer.FrameCount = 0;
  Viewer.Path[kPathBufferSize - 1] = '\0';
  char* const pattern = Viewer.Scratch;
  std::memcpy(pattern, Viewer.Path, kPathBufferSize);
  size_t numberStart = 0;
  size_t numberEnd = 0;
  BuildPattern(pattern, numberStart, numberEnd);
  const char* const opened = Viewer.Path + Viewer.NamePart;
  const auto belongs = [&](const char* listed) {
    return BelongsToSequence(listed, opened, numberStart, numberEnd);
  };

  // First pass: count and measure, so the list is one block of exactly the right size.
  char name[kPlatformNameSize];
  PlatformSearch search = PlatformFindFirst(pattern, name);
  if (search == nullptr) return SetReason(kReasonNoSuchFile, Viewer.Path), -1;
  int32_t counted = 0;
  int32_t longest = 0;
  do {
    if (!belongs(name)) continue;
    const int32_t length = int32_t(std::strlen(name));
    if (length > longest) longest = length;
    ++counted;
  } while (counted < kMaxListedFiles && PlatformFindNext(search, name));
  PlatformFindClose(search);
  if (counted == 0) return SetReason(kReasonNoSuchFile, Viewer.Path), -1;

  PlatformFree(Viewer.FrameList);
  Viewer.FrameList = static_cast<char*>(PlatformAllocZeroed(size_t(counted) * size_t(longest + 1)));
  Viewer.CurrentFrame = 0;
  if (Viewer.FrameList == nullptr) return SetReason(kReasonListTooLarge, Viewer.Path, counted), -1;
  Viewer.LongestName = longest;

  // Second pass: the folder may have changed since the first. Only what the block was sized for
  // is kept: no more entries than counted, no name longer than the stride.
  search = PlatformFindFirst(pattern, name);
  if (search == nullptr) return SetReason(kReasonNoSuchFile, Viewer.Path), -1;
  int32_t stored = 0;
  do {
    const size_t length = std::strlen(name);
    if (length > size_t(longest) || !belongs(name)) continue;
    std::memcpy(Viewer.FrameList + size_t(stored) * size_t(Stride()), name, length + 1);
    ++stored;
  } while (stored < counted && PlatformFindNext(search, name));
  PlatformFindClose(search);
  Viewer.FrameCount = stored;
  if (stored == 0) return SetReason(kReasonNoSuchFile, Viewer.Path), -1;

  std::qsort(Viewer.FrameList, size_t(stored), size_t(Stride()), CompareEntries);
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
  // Whatever is still waiting to be read ahead is for another frame, or this load reads it now.
  PlatformDropReadAhead();
  // A movie without frames: the movie scan said why, and that stands.
  if (Viewer.Kind == Mov && Viewer.FrameCount <= 0) {
    if (Viewer.Reason[0] == '\0') SetReason(kReasonMovNoFrames, Viewer.Path);
    return -1;
  }
  ClearReason();
  const int32_t entry = Viewer.Kind == Mov ? 0 : Viewer.CurrentFrame;
  if (entry < 0 || entry >= Viewer.FrameCount || Viewer.FrameList == nullptr) {
    SetReason(kReasonNotInSequence, Viewer.Path, int(entry), int(Viewer.FrameCount));
    return -1;
  }
  const char* const name = FrameListEntry(entry);
  const size_t length = std::strlen(name);
  // The folder part and the listed name must fit the path buffer together.
  if (size_t(Viewer.NamePart) + length + 1 > size_t(kPathBufferSize)) {
    SetReason(kReasonNameTooLong, name);
    return -1;
  }
  std::memcpy(Viewer.Path + Viewer.NamePart, name, length + 1);
  switch (Viewer.Kind) {
    case Dpx:
      return ReadDpxFrame();
    case RgbPlanes:
      return ReadRgbPlanesFrame();
    case Mov:
      return ReadMovFrame();
    default:
      SetReason(kReasonUnknownExtension, Viewer.Path);
      return -1;
  }
}

bool TakeOpenPath(const char* text) {
  if (*text == '"') ++text;
  size_t length = 0;
  while (text[length] != '\0' && text[length] != '"') ++length;
  if (length >= sizeof Viewer.Path) {
    SetReason(kReasonPathTooLong, text);
    return false;
  }
  std::memcpy(Viewer.Path, text, length);
  Viewer.Path[length] = '\0';
  return true;
}

int32_t ShowFrame(bool& rebuilt) {
  const int32_t widthBefore = Viewer.SourceWidth;
  const int32_t heightBefore = Viewer.SourceHeight;
  int32_t result = LoadFrame();
  // A frame of another size was only measured by its reader: the bitmap is brought to it when
  // the shifted size changed, and the frame loaded again, now to be decoded. A new size that
  // shifts to the same bitmap is loaded again too, or the frame would not be decoded at all.
  rebuilt = FrameBufferNeedsRefit();
  if (rebuilt) ResetFrameBuffer();
  if (rebuilt || Viewer.SourceWidth != widthBefore || Viewer.SourceHeight != heightBefore) {
    result = LoadFrame();
  }
  // A frame that cannot be read shows black, never the one before it or a part of itself.
  if (result != 0) ClearFrameBuffer();
  return result;
}

namespace {

// Read-ahead of frame `index`: its files named as LoadFrame names them, their rows where the
// frame just shown had its own (a movie's frame where the movie says).
void ReadAheadFrame(int32_t index) {
  const int32_t entry = Viewer.Kind == Mov ? 0 : index;
  if (entry < 0 || entry >= Viewer.FrameCount || Viewer.FrameList == nullptr) return;
  const char* const name = FrameListEntry(entry);
  const size_t length = std::strlen(name);
  if (length == 0 || size_t(Viewer.NamePart) + length + 1 > size_t(kPathBufferSize)) return;
  char paths[3][kPathBufferSize];
  const char* names[3] = {paths[0], paths[1], paths[2]};
  for (char* path : paths) {
    std::memcpy(path, Viewer.Path, size_t(Viewer.NamePart));
    std::memcpy(path + Viewer.NamePart, name, length + 1);
  }
  const size_t last = size_t(Viewer.NamePart) + length - 1;
  switch (Viewer.Kind) {
    case Dpx:
      ReadAheadRows(names, 1, -1);
      return;
    case RgbPlanes:
      for (int32_t k = 0; k < 3; ++k) paths[k][last] = "rgb"[k];
      ReadAheadRows(names, 3, 0);
      return;
    case Mov:
      if (MovFrameStart(index) >= 0) ReadAheadRows(names, 1, MovFrameStart(index));
      return;
    default:
      return;
  }
}

}  // namespace

int32_t PlaybackTick(bool& rebuilt) {
  Viewer.CurrentFrame = NextFrameIndex(Viewer.CurrentFrame, Viewer.PlaybackStep, Viewer.FrameCount);
  const int32_t result = ShowFrame(rebuilt);
  // A frame of another size changed what the next one shows: it is read when its tick comes.
  if (result == 0 && !rebuilt && Viewer.PlaybackStep != 0) {
    ReadAheadFrame(NextFrameIndex(Viewer.CurrentFrame, Viewer.PlaybackStep, Viewer.FrameCount));
  }
  return result;
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
  PlatformShowError(message, Viewer.Reason);
  ClearFrameBuffer();  // no picture without a sequence it belongs to
  Viewer.FrameCount = 0;
  Viewer.PlaybackStep = 0;
}
