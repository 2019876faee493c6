// QuickTime atom scan. Every atom opens with a big-endian 32-bit size (1: a 64-bit size follows
// the type; 0: to the end of the enclosing atom or file) and a four-character type.
//
// A movie whose tracks name a media handler is read through the sample table of its first
// `vide` track with a `v210` description, since sound and timecode share its media data. A
// movie with no handler (small hand-made movies) is read by a flat walk: the first `stsz` gives
// the frame size and count, and frames lie back to back from the `mdat` payload. Fragmented
// movies are refused: the frames of their moov are not the movie.

#include "formats/mov_atoms.h"

#include <algorithm>
#include <cstddef>
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

// The end of the top level: the file's true end is not asked for.
constexpr uint64_t kNoEnd = uint64_t(INT64_MAX);
// Frames a movie's table may hold: a day at 24 frames a second, 16 MB of offsets, which a 32-bit
// process can still find in one block.
constexpr uint32_t kMaxMovFrames = 1u << 21;
constexpr uint32_t kStszBodyBytes = 12;

bool IsType(const uint8_t* type, const char* literal) {
  return std::memcmp(type, literal, 4) == 0;
}

bool ReadAt(PlatformFile file, uint64_t at, void* out, uint32_t n) {
  return at <= kNoEnd && PlatformSeekFile(file, int64_t(at), SeekFromStart) == int64_t(at) &&
         PlatformReadFile(file, out, n) == n;
}

struct Atom {
  uint8_t Type[4];
  uint64_t Body;  // first byte after the header
  uint64_t End;   // first byte after the atom; Body when not Sized
  bool Sized;     // at least its header long, and within its parent
};

// The header of the atom at `at` in a parent ending at `end`; false when no header lies whole
// there.
bool ReadAtom(PlatformFile file, uint64_t at, uint64_t end, Atom& atom) {
  uint8_t head[16];
  if (end - at < 8 || !ReadAt(file, at, head, 8)) return false;
  std::memcpy(atom.Type, head + 4, 4);
  uint64_t size = BigEndian32(head);
  atom.Body = at + 8;
  if (size == 1) {
    // A 64-bit size cut short by the end of the file leaves the atom without a usable size.
    const uint32_t got = end - at >= 16 ? PlatformReadFile(file, head + 8, 8) : 0;
    size = got == 8 ? BigEndian64(head + 8) : 1;
    atom.Body = at + 8 + got;
  } else if (size == 0) {
    size = end - at;
  }
  atom.Sized = size >= atom.Body - at && size <= end - at;
  atom.End = atom.Sized ? at + size : atom.Body;
  return true;
}

// One atom met by the track walk: where its body lies, and how long it is.
struct AtomSpan {
  uint64_t Body = 0;
  uint64_t Bytes = 0;
  bool Present = false;
};

struct TrackAtoms {
  uint8_t Handler[4] = {};
  bool HasHandler = false;
  AtomSpan Stsd, Stsz, Stsc, Stco, Co64;
};

// What the walks learn on the way.
struct Scan {
  PlatformFile File = nullptr;
  TrackAtoms Track, Picture;  // the track being read; the picture track chosen
  bool Described = false, Fragmented = false, Picked = false, Pictures = false;
  bool MetMediaData = false, ReadSampleSizes = false;  // the flat walk
  int32_t FlatCount = 0;
};

// After an atom: end its parent's walk, go to the next sibling, or go to its first child.
enum class Step { Stop, Over, Into };
using AtomReader = Step (*)(Scan&, const Atom&);
struct AtomRule {
  char Type[5];
  AtomReader Read;
  bool AnySize;  // read even when its size does not fit; otherwise such an atom ends the walk
};

// The one walk: the atoms of [from, end) in order, each handed to the reader of its type; the
// others are passed over. Every step moves forward by at least a header, so the walk ends.
template <size_t N>
void Walk(Scan& scan, uint64_t from, uint64_t end, const AtomRule (&rules)[N]) {
  Atom atom;
  for (uint64_t at = from; ReadAtom(scan.File, at, end, atom);) {
    const AtomRule* rule = std::find_if(
        rules, rules + N, [&](const AtomRule& r) { return IsType(atom.Type, r.Type); });
    if (rule == rules + N) rule = nullptr;
    if (!atom.Sized && (rule == nullptr || !rule->AnySize)) return;
    const Step step = rule != nullptr ? rule->Read(scan, atom) : Step::Over;
    if (step == Step::Stop || (step == Step::Over && !atom.Sized)) return;
    at = step == Step::Into ? atom.Body : atom.End;
  }
}

// The flat walk. Containers are entered in place, whatever their size, so their children count
// as siblings; the first `stsz` and the `mdat` around it are the movie.
Step FlatMediaData(Scan& scan, const Atom& atom) {
  Viewer.MovDataOffset = atom.Body;
  scan.MetMediaData = true;
  // The sample table came first (a movie written for streaming): this is its media data.
  if (!scan.ReadSampleSizes) return Step::Over;
  scan.FlatCount = Viewer.MovSampleCount;
  return Step::Stop;
}

Step FlatSampleSizes(Scan& scan, const Atom& atom) {
  if (scan.ReadSampleSizes) return Step::Over;  // later sample tables are passed over whole
  // Read whatever its size; a file that ends inside leaves zeros.
  uint8_t body[kStszBodyBytes] = {};
  if (PlatformSeekFile(scan.File, int64_t(atom.Body), SeekFromStart) == int64_t(atom.Body)) {
    PlatformReadFile(scan.File, body, kStszBodyBytes);
  }
  Viewer.MovSampleSize = BigEndian32(body + 4);
  Viewer.MovSampleCount = int32_t(BigEndian32(body + 8));
  if (scan.MetMediaData) {
    scan.FlatCount = Viewer.MovSampleCount;
    return Step::Stop;
  }
  // No media data yet: walk on past this atom, unless it is shorter than the body just read.
  if (!atom.Sized || atom.End - atom.Body < kStszBodyBytes) return Step::Stop;
  scan.ReadSampleSizes = true;
  return Step::Over;
}

Step Enter(Scan&, const Atom&) {
  return Step::Into;
}

// Letter case matters: "MOOV" is passed over whole.
constexpr AtomRule kFlatRules[] = {
    {"mdat", FlatMediaData, true}, {"stsz", FlatSampleSizes, true}, {"moov", Enter, true},
    {"trak", Enter, true},         {"mdia", Enter, true},           {"minf", Enter, true},
    {"stbl", Enter, true},
};

// The track walk: each container's children within its bounds.
template <AtomSpan TrackAtoms::*Table>
Step RecordTable(Scan& scan, const Atom& atom) {
  AtomSpan& span = scan.Track.*Table;
  if (!span.Present) span = {atom.Body, atom.End - atom.Body, true};  // a repeat does not count
  return Step::Over;
}

constexpr AtomRule kSampleTableRules[] = {
    {"stsd", RecordTable<&TrackAtoms::Stsd>, false},
    {"stsz", RecordTable<&TrackAtoms::Stsz>, false},
    {"stsc", RecordTable<&TrackAtoms::Stsc>, false},
    {"stco", RecordTable<&TrackAtoms::Stco>, false},
    {"co64", RecordTable<&TrackAtoms::Co64>, false},
};

Step ReadSampleTable(Scan& scan, const Atom& atom) {
  Walk(scan, atom.Body, atom.End, kSampleTableRules);
  return Step::Stop;
}
constexpr AtomRule kMediaInfoRules[] = {{"stbl", ReadSampleTable, false}};

Step ReadMediaInfo(Scan& scan, const Atom& atom) {
  Walk(scan, atom.Body, atom.End, kMediaInfoRules);
  return Step::Over;
}

// The handler type at body byte 8, after version, flags and component type. minf's own hdlr
// names a data handler and is never read. Sound and timecode tables are never read either.
Step ReadHandler(Scan& scan, const Atom& atom) {
  TrackAtoms& track = scan.Track;
  uint8_t body[12];
  if (!track.HasHandler && atom.End - atom.Body >= 12 && ReadAt(scan.File, atom.Body, body, 12)) {
    std::memcpy(track.Handler, body + 8, 4);
    track.HasHandler = true;
  }
  return track.HasHandler && !IsType(track.Handler, "vide") ? Step::Stop : Step::Over;
}
constexpr AtomRule kMediaRules[] = {{"hdlr", ReadHandler, false}, {"minf", ReadMediaInfo, false}};

Step ReadMedia(Scan& scan, const Atom& atom) {
  Walk(scan, atom.Body, atom.End, kMediaRules);
  return Step::Stop;
}
constexpr AtomRule kTrackRules[] = {{"mdia", ReadMedia, false}};

// The picture codecs a user may meet instead of v210, by the four characters of their sample
// description, for the reason a movie is refused.
struct CodecName {
  char Type[5];
  const char* Name;
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
    if (IsType(type, codec.Type)) {
      SetReason(kReasonMovCodecNamed, Viewer.Path, codec.Name, shown);
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
  if (!stsd.Present || stsd.Bytes < sizeof body || !ReadAt(file, stsd.Body, body, sizeof body) ||
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

Step ReadTrack(Scan& scan, const Atom& atom) {
  if (scan.Picked) return Step::Over;
  scan.Track = TrackAtoms();
  Walk(scan, atom.Body, atom.End, kTrackRules);
  const TrackAtoms& track = scan.Track;
  scan.Described = scan.Described || track.HasHandler;
  if (!track.HasHandler || !IsType(track.Handler, "vide")) return Step::Over;
  // The first picture track is the one a user means: why it is not read is the reason.
  scan.Picked = ReadV210Description(scan.File, track.Stsd, !scan.Pictures);
  scan.Pictures = true;
  if (scan.Picked) scan.Picture = track;
  return Step::Over;
}

Step NoteFragments(Scan& scan, const Atom&) {
  scan.Fragmented = true;
  return Step::Over;
}
constexpr AtomRule kMovieRules[] = {{"mvex", NoteFragments, false}, {"trak", ReadTrack, false}};

// The media data after the first moov is passed over unread.
Step ReadMovie(Scan& scan, const Atom& atom) {
  Walk(scan, atom.Body, atom.End, kMovieRules);
  return Step::Stop;
}
constexpr AtomRule kTopRules[] = {{"moov", ReadMovie, false}};

// Reads the entries of one table in order, a small block at a time; the table never reads
// past its atom.
class TableReader {
 public:
  // entryBytes of each entry after a head of headBytes; false when the atom cannot hold them.
  bool Begin(PlatformFile file, const AtomSpan& span, uint32_t headBytes, uint32_t entryBytes,
             uint32_t count) {
    File = file;
    At = span.Body + headBytes;
    EntryBytes = entryBytes;
    Left = count;
    Have = Used = 0;
    return span.Present && span.Bytes >= headBytes &&
           uint64_t(count) * entryBytes <= span.Bytes - headBytes;
  }
  // The next entry as one number (a 4- or 8-byte entry); false past the end.
  bool Next(uint64_t& value) {
    if (Used == Have && !Refill()) return false;
    const uint8_t* entry = Block + Used;
    value = EntryBytes == 8 ? BigEndian64(entry) : BigEndian32(entry);
    Used += EntryBytes;
    return true;
  }
  // The next entry as 32-bit fields (entryBytes / 4 of them).
  bool Next(uint32_t* fields) {
    if (Used == Have && !Refill()) return false;
    for (uint32_t k = 0; k < EntryBytes / 4; ++k) fields[k] = BigEndian32(Block + Used + 4 * k);
    Used += EntryBytes;
    return true;
  }

 private:
  bool Refill() {
    if (Left == 0) return false;
    const uint32_t entries = std::min<uint32_t>(Left, sizeof Block / EntryBytes);
    if (!ReadAt(File, At, Block, entries * EntryBytes)) return false;
    At += entries * EntryBytes;
    Left -= entries;
    Have = entries * EntryBytes;
    Used = 0;
    return true;
  }

  PlatformFile File = nullptr;
  uint64_t At = 0;
  uint32_t EntryBytes = 4;
  uint32_t Left = 0;
  uint32_t Have = 0;
  uint32_t Used = 0;
  uint8_t Block[4080] = {};  // a whole number of 4-, 8- and 12-byte entries
};

// After version and flags (4): stsz holds a common size, a count, and per-sample sizes when the
// common size is 0; stsc, stco and co64 a count, then entries of 12 (first chunk from 1, samples
// per chunk, description), 4 or 8 (chunk offset) bytes.
uint32_t TableCount(PlatformFile file, const AtomSpan& span, uint32_t at) {
  uint8_t field[4] = {};
  if (!span.Present || span.Bytes < at + 4 || !ReadAt(file, span.Body + at, field, 4)) return 0;
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
  const uint32_t oneSize = TableCount(file, track.Stsz, 4);
  if (!sizes.Begin(file, track.Stsz, 12, 4, oneSize == 0 ? count : 0)) return cutShort();
  if (oneSize != 0 && oneSize < frameBytes) return shortFrame(0, oneSize);
  const bool wide = !track.Stco.Present;
  const AtomSpan& offsets = wide ? track.Co64 : track.Stco;
  const uint32_t chunkCount = TableCount(file, offsets, 4);
  if (!chunks.Begin(file, offsets, 8, wide ? 8 : 4, chunkCount)) return cutShort();
  uint32_t runsLeft = TableCount(file, track.Stsc, 4);
  if (!runs.Begin(file, track.Stsc, 8, 12, runsLeft)) return cutShort();

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

// The picture track's frame count, or 0 when it has none or the movie is refused. Described is
// false when no track names a media handler: the movie is one for the flat walk.
int32_t ScanTracks(Scan& scan) {
  Walk(scan, 0, kNoEnd, kTopRules);
  if (!scan.Described) return 0;
  if (scan.Fragmented) return SetReason(kReasonMovFragmented, Viewer.Path), 0;
  if (!scan.Pictures) return SetReason(kReasonMovNoPicture, Viewer.Path), 0;
  if (!scan.Picked) return 0;
  ClearReason();  // a later picture track is read after all

  const PlatformFile file = scan.File;
  const TrackAtoms& picture = scan.Picture;
  const uint32_t count = TableCount(file, picture.Stsz, 8);
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
  Scan scan;
  scan.File = file;
  int32_t count = ScanTracks(scan);
  if (!scan.Described) {
    Walk(scan, 0, kNoEnd, kFlatRules);
    count = scan.FlatCount;
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
