// QuickTime atom scan.
//
// Every atom starts with a big-endian header:
//
//   offset 0  size  4  whole atom length, header included; 1 = a 64-bit length follows the type,
//                      0 = the atom runs to the end of its parent (of the file, at the top)
//   offset 4  type  4  four characters, compared byte for byte
//   offset 8  size  8  (only when size is 1) high word, then low word
//
// A movie is found in two ways.
//
// Tracks. moov holds one trak per track; the picture is the first track whose media handler is
// `vide` and whose first sample description is `v210`. Sound, timecode and other video tracks
// share the media data with it, interleaved, so its frames are located through its own sample
// table (stbl), every field big-endian after version (1) and flags (3):
//
//   mdia / hdlr  component type (4), handler type (4) at body byte 8
//   stsd         entry count (4), then entries: size (4), format (4), 6 reserved, data reference
//                index (2), version (2), revision (2), vendor (4), temporal and spatial quality
//                (4 + 4), width (2) and height (2), at entry bytes 32 and 34
//   stsz         sample size (4), sample count (4); when the size is 0, one size (4) per sample
//   stsc         entry count (4), then entries: first chunk (4, from 1), samples per chunk (4),
//                sample description (4); each entry runs to the next one's first chunk
//   stco / co64  entry count (4), then one file offset (4, or 8 in co64) per chunk
//
//   sample s of a chunk lies at the chunk's offset plus the sizes of the samples before it in
//   that chunk; chunks are taken in order, each with the samples per chunk of its stsc entry.
//
// The offsets go into one table of MovSampleCount entries, built here and never per frame.
// This walk respects every size: a child that would run past its parent ends the parent.
//
// Back to back. A movie with no media handler in any track (small hand-made movies) is read as
// the first version of the viewer read it: the first `stsz` met in a flat, forward-only walk
// gives the sample size and count, and frames lie back to back from the first payload byte of
// the media data (`mdat`). The containers on the path to the sample table are entered by
// reading their first child next, everything else is passed over with one relative seek.
//
// Fragmented movies (an `mvex` in moov, frames listed in `moof` atoms) are refused: the frames
// of their moov are not the movie.

#include "formats/mov_atoms.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/reasons.h"
#include "core/viewer_state.h"
#include "formats/byte_order.h"
#include "formats/v210_row.h"
#include "platform/file.h"
#include "platform/heap.h"
#include "platform/workers.h"

namespace {

constexpr int64_t kMaxFilePosition = INT64_MAX;
constexpr uint64_t kStszBodyBytes = 12;

bool IsType(const uint8_t* type, const char* literal) {
  return std::memcmp(type, literal, 4) == 0;
}

// The containers whose children lead to the sample table; letter case matters ("MOOV" is not one).
bool IsEnteredContainer(const uint8_t* type) {
  return IsType(type, "moov") || IsType(type, "trak") || IsType(type, "mdia") ||
         IsType(type, "minf") || IsType(type, "stbl");
}

int32_t WalkAtoms(PlatformFile file) {
  int64_t position = 0;  // kept by hand: every read and seek below moves it
  uint64_t skip = 0;     // unsigned, so the walk can never move backwards
  bool metMediaData = false;
  bool readSampleSizes = false;
  for (;;) {
    // An extended size near 2^64 names a place no file reaches: that is the end of the file.
    if (skip > uint64_t(kMaxFilePosition - position)) return 0;
    if (skip != 0) {
      position = PlatformSeekFile(file, int64_t(skip), SeekFromCurrent);
      if (position < 0) return 0;
    }

    uint8_t sizeField[4] = {};
    uint8_t type[4] = {};
    position += PlatformReadFile(file, sizeField, 4);
    const uint32_t typeBytes = PlatformReadFile(file, type, 4);
    position += typeBytes;
    if (typeBytes < 4) return 0;  // the end of the file, before the frames were found

    const uint32_t size = BigEndian32(sizeField);
    uint64_t atomSize = size;
    uint64_t headerBytes = 8;
    if (size == 1) {
      uint8_t extended[8] = {};
      position += PlatformReadFile(file, extended, 8);
      atomSize = uint64_t(BigEndian32(extended)) << 32 | BigEndian32(extended + 4);
      headerBytes = 16;
    }
    // Size 0 (to the end of the file), 2..7, or an extended size below 16: no payload length
    // that leads forward to another atom, so a walk that must pass over such an atom ends there.
    const bool sizeUsable = atomSize >= headerBytes;
    skip = sizeUsable ? atomSize - headerBytes : 0;

    if (IsType(type, "mdat")) {
      Viewer.MovDataOffset = uint64_t(position);
      metMediaData = true;
      // The sample table came first (a movie written for streaming): this is its media data.
      if (readSampleSizes) return Viewer.MovSampleCount;
      if (!sizeUsable) return 0;
    } else if (IsEnteredContainer(type)) {
      // The container's own size plays no part: its first child is the next header.
      skip = 0;
    } else if (IsType(type, "stsz") && !readSampleSizes) {
      uint8_t body[kStszBodyBytes] = {};
      position += PlatformReadFile(file, body, kStszBodyBytes);
      Viewer.MovSampleSize = BigEndian32(body + 4);
      Viewer.MovSampleCount = int32_t(BigEndian32(body + 8));
      if (metMediaData) return Viewer.MovSampleCount;
      // No media data yet: walk on to it over the rest of this atom. One that claims to be
      // shorter than the body just read would send the walk backwards.
      if (!sizeUsable || skip < kStszBodyBytes) return 0;
      skip -= kStszBodyBytes;
      readSampleSizes = true;
    } else if (!sizeUsable) {
      return 0;  // later sample tables, and every other atom, are passed over whole
    }
  }
}

// Frames a movie's table may hold: a day at 24 frames a second, 16 MB of offsets, which a 32-bit
// process can still find in one block.
constexpr uint32_t kMaxMovFrames = 1u << 21;
// The last place a file may reach: the end of the top level, whose true end is not asked for.
constexpr uint64_t kNoEnd = uint64_t(kMaxFilePosition);

// One atom met by the track walk: where its body lies, and how long it is.
struct AtomSpan {
  uint64_t body = 0;
  uint64_t bytes = 0;
  bool present = false;
};

struct TrackAtoms {
  uint8_t handler[4] = {};
  bool hasHandler = false;
  AtomSpan stsd, stsz, stsc, stco, co64;
};

struct AtomHeader {
  uint8_t type[4];
  uint64_t body;  // first byte after the header
  uint64_t end;   // first byte after the atom
};

bool ReadAt(PlatformFile file, uint64_t at, void* out, uint32_t n) {
  return at <= kNoEnd && PlatformSeekFile(file, int64_t(at), SeekFromStart) == int64_t(at) &&
         PlatformReadFile(file, out, n) == n;
}

// The header of the atom at `at` inside a parent ending at `end`; false when there is none
// whole, or its size is below its header or runs past the parent.
bool ReadHeader(PlatformFile file, uint64_t at, uint64_t end, AtomHeader& atom) {
  uint8_t head[16];
  if (end - at < 8 || !ReadAt(file, at, head, 8)) return false;
  std::memcpy(atom.type, head + 4, 4);
  uint64_t size = BigEndian32(head);
  atom.body = at + 8;
  if (size == 1) {
    if (end - at < 16 || PlatformReadFile(file, head + 8, 8) != 8) return false;
    size = uint64_t(BigEndian32(head + 8)) << 32 | BigEndian32(head + 12);
    atom.body = at + 16;
  } else if (size == 0) {
    size = end - at;
  }
  if (size < atom.body - at || size > end - at) return false;
  atom.end = at + size;
  return true;
}

// Calls visit(atom) for each child of the body [from, end), in order, until one is not whole
// or visit returns false. Every child is at least a header long, so the walk always ends.
template <typename Visit>
void ForEachChild(PlatformFile file, uint64_t from, uint64_t end, Visit visit) {
  AtomHeader atom;
  for (uint64_t at = from; at < end && ReadHeader(file, at, end, atom); at = atom.end) {
    if (!visit(atom)) return;
  }
}

void Record(AtomSpan& span, const AtomHeader& atom) {
  if (span.present) return;  // a repeated table does not replace the first
  span = {atom.body, atom.end - atom.body, true};
}

// mdia's handler, and the sample table atoms of its minf / stbl.
TrackAtoms ReadTrackAtoms(PlatformFile file, const AtomHeader& trak) {
  TrackAtoms track;
  ForEachChild(file, trak.body, trak.end, [&](const AtomHeader& mdia) {
    if (!IsType(mdia.type, "mdia")) return true;
    ForEachChild(file, mdia.body, mdia.end, [&](const AtomHeader& a) {
      uint8_t body[12];
      if (IsType(a.type, "hdlr") && !track.hasHandler && a.end - a.body >= 12 &&
          ReadAt(file, a.body, body, 12)) {
        std::memcpy(track.handler, body + 8, 4);  // minf's own hdlr names a data handler
        track.hasHandler = true;
      }
      // Sound and timecode tables are never read: the handler comes before them.
      if (track.hasHandler && !IsType(track.handler, "vide")) return false;
      if (!IsType(a.type, "minf")) return true;
      ForEachChild(file, a.body, a.end, [&](const AtomHeader& stbl) {
        if (!IsType(stbl.type, "stbl")) return true;
        ForEachChild(file, stbl.body, stbl.end, [&](const AtomHeader& t) {
          if (IsType(t.type, "stsd")) Record(track.stsd, t);
          if (IsType(t.type, "stsz")) Record(track.stsz, t);
          if (IsType(t.type, "stsc")) Record(track.stsc, t);
          if (IsType(t.type, "stco")) Record(track.stco, t);
          if (IsType(t.type, "co64")) Record(track.co64, t);
          return true;
        });
        return false;
      });
      return true;
    });
    return false;
  });
  return track;
}

// The picture codecs a user may meet instead of v210, by the four characters of their sample
// description, for the reason a movie is refused.
struct CodecName {
  char type[5];
  const char* name;
};
constexpr CodecName kCodecNames[] = {
    {"apco", "ProRes 422 Proxy"},
    {"apcs", "ProRes 422 LT"},
    {"apcn", "ProRes 422"},
    {"apch", "ProRes 422 HQ"},
    {"ap4h", "ProRes 4444"},
    {"ap4x", "ProRes 4444 XQ"},
    {"avc1", "H.264"},
    {"avc3", "H.264"},
    {"hvc1", "HEVC"},
    {"hev1", "HEVC"},
    {"av01", "AV1"},
    {"vp09", "VP9"},
    {"mp4v", "MPEG-4 video"},
    {"jpeg", "Motion JPEG"},
    {"mjpa", "Motion JPEG"},
    {"AVdn", "DNxHD"},
    {"AVdh", "DNxHR"},
    {"2vuy", "8-bit 4:2:2"},
    {"v410", "10-bit 4:4:4"},
    {"r210", "10-bit RGB"},
    {"raw ", "uncompressed RGB"},
};

// Says why the first picture track is not read: its codec, named when it is a known one.
void ExplainCodec(const uint8_t* type) {
  char shown[5];
  for (int i = 0; i < 4; ++i) shown[i] = type[i] >= 0x20 && type[i] < 0x7F ? char(type[i]) : '?';
  shown[4] = '\0';
  for (const CodecName& codec : kCodecNames) {
    if (IsType(type, codec.type)) {
      SetReason(kReasonMovCodecNamed, Viewer.Path, codec.name, shown);
      return;
    }
  }
  SetReason(kReasonMovCodec, Viewer.Path, shown);
}

// True for a v210 first sample description of a picture of at most the largest source size;
// its width and height go to MovWidth and MovHeight. On false, explain says why.
bool ReadV210Description(PlatformFile file, const AtomSpan& stsd, bool explain) {
  constexpr uint32_t kEntryBytes = 36;  // up to the height at entry byte 34
  uint8_t body[8 + kEntryBytes];
  const uint8_t* entry = body + 8;
  if (!stsd.present || stsd.bytes < sizeof body || !ReadAt(file, stsd.body, body, sizeof body) ||
      BigEndian32(body + 4) == 0 || BigEndian32(entry) < kEntryBytes) {
    if (explain) SetReason(kReasonMovTablesShort, Viewer.Path);
    return false;
  }
  if (!IsType(entry + 4, "v210")) {
    if (explain) ExplainCodec(entry + 4);
    return false;
  }
  const int32_t width = entry[32] << 8 | entry[33];
  const int32_t height = entry[34] << 8 | entry[35];
  if (width < 1 || width > kMaxSourceWidth || height < 1 || height > kMaxSourceHeight) {
    if (explain) SetReason(kReasonMovPictureSize, Viewer.Path, int(width), int(height));
    return false;
  }
  Viewer.MovWidth = width;
  Viewer.MovHeight = height;
  return true;
}

// Reads the entries of one table in order, a small block at a time; the table never reads
// past its atom.
class TableReader {
 public:
  // entryBytes of each entry after a head of headBytes; false when the atom cannot hold them.
  bool Begin(PlatformFile file, const AtomSpan& span, uint32_t headBytes, uint32_t entryBytes,
             uint32_t count) {
    file_ = file;
    next_ = span.body + headBytes;
    entryBytes_ = entryBytes;
    left_ = count;
    have_ = used_ = 0;
    return span.present && span.bytes >= headBytes &&
           uint64_t(count) * entryBytes <= span.bytes - headBytes;
  }
  // The next entry as one number (a 4- or 8-byte entry); false past the end.
  bool Next(uint64_t& value) {
    if (used_ == have_ && !Refill()) return false;
    const uint8_t* entry = block_ + used_;
    value = entryBytes_ == 8 ? uint64_t(BigEndian32(entry)) << 32 | BigEndian32(entry + 4)
                             : BigEndian32(entry);
    used_ += entryBytes_;
    return true;
  }
  // The next entry as 32-bit fields (entryBytes / 4 of them).
  bool Next(uint32_t* fields) {
    if (used_ == have_ && !Refill()) return false;
    for (uint32_t k = 0; k < entryBytes_ / 4; ++k) fields[k] = BigEndian32(block_ + used_ + 4 * k);
    used_ += entryBytes_;
    return true;
  }

 private:
  bool Refill() {
    if (left_ == 0) return false;
    const uint32_t entries = std::min<uint32_t>(left_, sizeof block_ / entryBytes_);
    if (!ReadAt(file_, next_, block_, entries * entryBytes_)) return false;
    next_ += entries * entryBytes_;
    left_ -= entries;
    have_ = entries * entryBytes_;
    used_ = 0;
    return true;
  }

  PlatformFile file_ = nullptr;
  uint64_t next_ = 0;
  uint32_t entryBytes_ = 4;
  uint32_t left_ = 0;
  uint32_t have_ = 0;
  uint32_t used_ = 0;
  uint8_t block_[4080] = {};  // a whole number of 4-, 8- and 12-byte entries
};

uint32_t TableCount(PlatformFile file, const AtomSpan& span, uint32_t at) {
  uint8_t field[4] = {};
  if (!span.present || span.bytes < at + 4 || !ReadAt(file, span.body + at, field, 4)) return 0;
  return BigEndian32(field);
}

// Fills Viewer.MovFrameOffsets (count entries): every sample through stsc and the chunk
// offsets, each at least frameBytes long. False on any inconsistency: entries out of order, a
// chunk the offset table does not list, samples left without a chunk, a short sample.
bool LocateFrames(PlatformFile file, const TrackAtoms& track, uint32_t count, uint32_t frameBytes) {
  const char* const path = Viewer.Path;
  const auto cutShort = [path] { return SetReason(kReasonMovTablesShort, path), false; };
  const auto disagree = [path] { return SetReason(kReasonMovTablesDisagree, path), false; };
  const auto shortFrame = [&](uint32_t s, uint64_t size) {
    return SetReason(kReasonMovFrameShort, path, unsigned(s), unsigned(size), unsigned(frameBytes)),
           false;
  };
  TableReader sizes, chunks, runs;
  const uint32_t oneSize = TableCount(file, track.stsz, 4);
  if (!sizes.Begin(file, track.stsz, 12, 4, oneSize == 0 ? count : 0)) return cutShort();
  if (oneSize != 0 && oneSize < frameBytes) return shortFrame(0, oneSize);
  const bool wide = !track.stco.present;
  const AtomSpan& offsets = wide ? track.co64 : track.stco;
  const uint32_t chunkCount = TableCount(file, offsets, 4);
  if (!chunks.Begin(file, offsets, 8, wide ? 8 : 4, chunkCount)) return cutShort();
  uint32_t runsLeft = TableCount(file, track.stsc, 4);
  if (!runs.Begin(file, track.stsc, 8, 12, runsLeft)) return cutShort();

  uint32_t run[3], nextRun[3];  // first chunk (from 1), samples per chunk, description
  if (runsLeft == 0 || !runs.Next(run) || run[0] != 1) return disagree();
  --runsLeft;
  uint32_t s = 0;
  uint64_t chunk = 1;  // the chunk whose offset `chunks` gives next
  while (s < count) {
    // A run ends where the next begins, the last one with the table of chunk offsets.
    const bool last = runsLeft == 0;
    uint64_t runEnd = uint64_t(chunkCount) + 1;
    if (!last) {
      if (!runs.Next(nextRun)) return cutShort();
      --runsLeft;
      runEnd = nextRun[0];
    }
    // Samples per chunk of at least 1 and runs in order: every chunk passed places a sample,
    // so the loops end within count steps.
    if (run[1] == 0 || runEnd <= run[0]) return disagree();
    for (; chunk < runEnd && s < count; ++chunk) {
      uint64_t at = 0;
      if (!chunks.Next(at)) return disagree();
      for (uint32_t k = 0; k < run[1] && s < count; ++k, ++s) {
        uint64_t size = oneSize;
        if (oneSize == 0 && !sizes.Next(size)) return cutShort();
        if (size < frameBytes) return shortFrame(s, size);
        if (at > kNoEnd - size) return disagree();
        Viewer.MovFrameOffsets[s] = at;
        at += size;
      }
    }
    if (last) break;
    std::memcpy(run, nextRun, sizeof run);
  }
  return s == count || disagree();
}

// The picture track's frame count, or 0 when it has none or the movie is refused. described is
// false when no track names a media handler: the movie is one of the back-to-back kind.
int32_t ScanTracks(PlatformFile file, bool& described) {
  AtomHeader moov{};
  bool found = false;
  ForEachChild(file, 0, kNoEnd, [&](const AtomHeader& atom) {
    if (IsType(atom.type, "moov")) moov = atom, found = true;
    return !found;  // the media data after it is passed over unread
  });
  described = false;
  if (!found) return 0;

  bool fragmented = false, picked = false, pictures = false;
  TrackAtoms picture;
  ForEachChild(file, moov.body, moov.end, [&](const AtomHeader& atom) {
    if (IsType(atom.type, "mvex")) fragmented = true;
    if (picked || !IsType(atom.type, "trak")) return true;
    const TrackAtoms track = ReadTrackAtoms(file, atom);
    described = described || track.hasHandler;
    if (!track.hasHandler || !IsType(track.handler, "vide")) return true;
    // The first picture track is the one a user means: why it is not read is the reason.
    picked = ReadV210Description(file, track.stsd, !pictures);
    pictures = true;
    if (picked) picture = track;
    return true;
  });
  if (!described) return 0;
  if (fragmented) return SetReason(kReasonMovFragmented, Viewer.Path), 0;
  if (!pictures) return SetReason(kReasonMovNoPicture, Viewer.Path), 0;
  if (!picked) return 0;
  ClearReason();  // a later picture track is read after all

  const uint32_t count = TableCount(file, picture.stsz, 8);
  if (count == 0) return SetReason(kReasonMovNoFrames, Viewer.Path), 0;
  if (count > kMaxMovFrames) return SetReason(kReasonMovTooManyFrames, Viewer.Path, count), 0;
  const uint32_t frameBytes =
      uint32_t(GetV210RowGeometry(Viewer.MovWidth).Stride) * uint32_t(Viewer.MovHeight);
  Viewer.MovFrameOffsets =
      static_cast<uint64_t*>(PlatformAllocZeroed(size_t(count) * sizeof(uint64_t)));
  if (Viewer.MovFrameOffsets == nullptr) return SetReason(kReasonNoMemory, Viewer.Path), 0;
  if (!LocateFrames(file, picture, count, frameBytes)) {
    PlatformFree(Viewer.MovFrameOffsets);
    Viewer.MovFrameOffsets = nullptr;
    return 0;
  }
  Viewer.MovSampleCount = int32_t(count);
  return int32_t(count);
}

}  // namespace

bool EnsureMovRowBuffer() {
  if (Viewer.MovRowBuffer == nullptr) {
    Viewer.MovRowBuffer =
        static_cast<uint8_t*>(PlatformAllocZeroed(size_t(kMovRowBufferSize) * kMaxWorkers));
  }
  return Viewer.MovRowBuffer != nullptr;
}

int32_t ScanMovAtoms() {
  // A missing row buffer does not stop the scan; the frame reader refuses to decode without it.
  EnsureMovRowBuffer();
  PlatformFree(Viewer.MovFrameOffsets);
  Viewer.MovFrameOffsets = nullptr;
  Viewer.MovWidth = 0;
  Viewer.MovHeight = 0;
  PlatformFile file = PlatformOpenFile(Viewer.Path);
  if (file == nullptr) return SetReason(kReasonCantOpen, Viewer.Path), 0;
  bool described = false;
  int32_t count = ScanTracks(file, described);
  if (!described) {
    count = PlatformSeekFile(file, 0, SeekFromStart) == 0 ? WalkAtoms(file) : 0;
    if (count <= 0) SetReason(kReasonMovNoFrames, Viewer.Path);
  }
  PlatformCloseFile(file);
  return count;
}

int64_t MovFrameStart(int32_t index) {
  if (Viewer.MovFrameOffsets == nullptr) {
    return MovFrameOffset(Viewer.MovDataOffset, Viewer.MovSampleSize, index);
  }
  if (index < 0 || index >= Viewer.MovSampleCount) return -1;
  return int64_t(Viewer.MovFrameOffsets[index]);
}
