#include "tools/testpattern/movie_file.h"

#include <algorithm>
#include <utility>

#include "formats/v210_row.h"
#include "tools/testpattern/atoms.h"

namespace {

constexpr uint32_t kTimeScale = 24;  // one tick per frame at 24 frames a second

bool IsPicture(const MovieTrack& track) {
  return std::strcmp(track.Handler, "vide") == 0;
}

uint32_t SampleBytes(const MovieTrack& track) {
  return track.SampleBytes != 0 ? track.SampleBytes : MovieFrameBytes(track.Width, track.Height);
}

// How many chunks the track's samples fill, the last one perhaps short.
uint32_t ChunkCount(const MovieTrack& track) {
  return (track.Samples + track.SamplesPerChunk - 1) / track.SamplesPerChunk;
}

void AddVideoDescription(AtomBuilder& a, const MovieTrack& track) {
  a.U16(0);      // version
  a.U16(0);      // revision
  a.U32(0);      // vendor
  a.U32(0);      // temporal quality
  a.U32(0x400);  // spatial quality: lossless
  a.U16(uint16_t(track.Width));
  a.U16(uint16_t(track.Height));
  a.U32(0x00480000);  // 72 dpi
  a.U32(0x00480000);
  a.U32(0);  // data size
  a.U16(1);  // frames per sample
  a.Pascal("10-bit 4:2:2", 32);
  a.U16(24);      // depth
  a.U16(0xFFFF);  // no colour table
  a.Begin("colr");
  a.Type("nclc");
  a.U16(9);   // primaries: BT.2020
  a.U16(14);  // transfer: BT.2020 (10-bit)
  a.U16(9);   // matrix: BT.2020 non-constant luminance
  a.End();
  a.Begin("fiel");
  a.U8(1);  // progressive
  a.U8(0);
  a.End();
  a.Begin("pasp");
  a.U32(1);
  a.U32(1);
  a.End();
}

void AddSampleDescription(AtomBuilder& a, const MovieTrack& track) {
  a.Begin("stsd");
  a.U32(0);  // version, flags
  a.U32(1);  // one description
  a.Begin(track.Format);
  a.Zeros(6);
  a.U16(1);  // data reference index
  if (IsPicture(track)) {
    AddVideoDescription(a, track);
  } else {
    a.Zeros(20);  // sound and timecode fields: no reader looks at them
  }
  a.End();
  a.End();
}

void AddSampleTables(AtomBuilder& a, const MovieTrack& track,
                     const std::vector<uint64_t>& chunkOffsets) {
  a.Begin("stbl");
  AddSampleDescription(a, track);
  a.Begin("stts");
  a.U32(0);
  a.U32(1);
  a.U32(track.Samples);  // samples, each one tick long
  a.U32(1);
  a.End();
  // One run of full chunks, and one for a short last chunk.
  const uint32_t chunks = ChunkCount(track), full = track.Samples / track.SamplesPerChunk;
  const uint32_t rest = track.Samples - full * track.SamplesPerChunk;
  a.Begin("stsc");
  a.U32(0);
  a.U32((full != 0) + (rest != 0));
  if (full != 0) {
    a.U32(1);  // from chunk 1
    a.U32(track.SamplesPerChunk);
    a.U32(1);  // description 1
  }
  if (rest != 0) {
    a.U32(chunks);
    a.U32(rest);
    a.U32(1);
  }
  a.End();
  a.Begin("stsz");
  a.U32(0);
  a.U32(track.SizeTable ? 0 : SampleBytes(track));  // one size for all: no table follows
  a.U32(track.Samples);
  for (uint32_t i = 0; track.SizeTable && i < track.Samples; ++i) a.U32(SampleBytes(track));
  a.End();
  a.Begin(track.Co64 ? "co64" : "stco");
  a.U32(0);
  a.U32(uint32_t(chunkOffsets.size()));
  for (uint64_t offset : chunkOffsets) {
    if (track.Co64) a.U32(uint32_t(offset >> 32));
    a.U32(uint32_t(offset));
  }
  a.End();
  a.End();
}

void AddTrack(AtomBuilder& a, const MovieTrack& track, uint32_t id,
              const std::vector<uint64_t>& chunkOffsets) {
  const bool picture = IsPicture(track);
  a.Begin("trak");
  a.Begin("tkhd");
  a.U32(0x3);  // enabled, in movie
  a.U32(0);
  a.U32(0);
  a.U32(id);
  a.U32(0);
  a.U32(track.Samples);
  a.Zeros(8);
  a.U16(0);                    // layer
  a.U16(0);                    // alternate group
  a.U16(picture ? 0 : 0x100);  // volume: video has none
  a.U16(0);
  a.Matrix();
  a.U32(uint32_t(track.Width) << 16);
  a.U32(uint32_t(track.Height) << 16);
  a.End();

  a.Begin("mdia");
  a.Begin("mdhd");
  a.U32(0);
  a.U32(0);
  a.U32(0);
  a.U32(kTimeScale);
  a.U32(track.Samples);
  a.U16(0x7FFF);  // language: unspecified
  a.U16(0);
  a.End();
  a.Begin("hdlr");
  a.U32(0);
  a.Type("mhlr");
  a.Type(track.Handler);
  a.Zeros(12);
  a.Pascal("MediaHandler", 0);
  a.End();

  a.Begin("minf");
  if (picture) {
    a.Begin("vmhd");
    a.U32(1);
    a.U16(0x40);  // dither copy
    a.Zeros(6);
  } else {
    a.Begin("smhd");
    a.Zeros(8);
  }
  a.End();
  a.Begin("hdlr");
  a.U32(0);
  a.Type("dhlr");
  a.Type("alis");
  a.Zeros(12);
  a.Pascal("DataHandler", 0);
  a.End();
  a.Begin("dinf");
  a.Begin("dref");
  a.U32(0);
  a.U32(1);
  a.Begin("alis");
  a.U32(1);  // self reference: the media are in this file
  a.End();
  a.End();
  a.End();
  AddSampleTables(a, track, chunkOffsets);
  a.End();  // minf
  a.End();  // mdia
  a.End();  // trak
}

}  // namespace

Bytes TracksMoov(const std::vector<MovieTrack>& tracks,
                 const std::vector<std::vector<uint64_t>>& chunkOffsets) {
  uint32_t duration = 0;
  for (const MovieTrack& track : tracks) duration = std::max(duration, track.Samples);
  AtomBuilder a;
  a.Begin("moov");
  a.Begin("mvhd");
  a.U32(0);  // version, flags
  a.U32(0);  // created
  a.U32(0);  // modified
  a.U32(kTimeScale);
  a.U32(duration);
  a.U32(0x10000);  // rate 1.0
  a.U16(0x100);    // volume 1.0
  a.Zeros(10);
  a.Matrix();
  a.Zeros(24);                         // preview, poster, selection, current time
  a.U32(uint32_t(tracks.size() + 1));  // next track id
  a.End();
  for (size_t t = 0; t < tracks.size(); ++t) {
    AddTrack(a, tracks[t], uint32_t(t + 1), chunkOffsets[t]);
  }
  a.End();  // moov
  return a.Result();
}

Bytes MovieMoov(const MovieInfo& movie, uint32_t chunkOffset) {
  MovieTrack track;
  track.Width = movie.Width;
  track.Height = movie.Height;
  track.Samples = movie.Frames;
  track.SamplesPerChunk = std::max(movie.Frames, 1u);
  return TracksMoov({track}, {{chunkOffset}});
}

uint32_t MovieFrameBytes(int32_t width, int32_t height) {
  return uint32_t(GetV210RowGeometry(width).Stride) * uint32_t(height);
}

Bytes MovieFtyp() {
  AtomBuilder a;
  a.Begin("ftyp");
  a.Type("qt  ");
  a.U32(0x20050300);
  a.Type("qt  ");
  a.End();
  return a.Result();
}

RowFile MovieFile(const MovieInfo& movie, RowFiller fillRow) {
  const uint64_t payload = uint64_t(MovieFrameBytes(movie.Width, movie.Height)) * movie.Frames;
  // 32 bits cannot hold the size of more than 4 GiB of frames: 64 bits then, asked for or not.
  const bool extended = movie.Mdat64 || payload + 8 > 0xFFFFFFFFull;
  const Bytes mdat = extended ? ExtendedAtomHeader(payload + 16, "mdat")
                              : AtomHeader(uint32_t(payload + 8), "mdat");
  const Bytes wide = AtomHeader(8, "wide");
  // The moov's size does not depend on the offset it records: measure it with a stand-in.
  const size_t moovBefore = movie.MoovFirst ? MovieMoov(movie, 0).size() : 0;
  const Bytes ftyp = MovieFtyp();
  const Bytes moov =
      MovieMoov(movie, uint32_t(ftyp.size() + moovBefore + wide.size() + mdat.size()));
  RowFile file;
  file.Head = movie.MoovFirst ? Join({ftyp, moov, wide, mdat}) : Join({ftyp, wide, mdat});
  file.RowCount = uint64_t(movie.Frames) * uint64_t(movie.Height);
  file.RowBytes = size_t(GetV210RowGeometry(movie.Width).Stride);
  file.FillRow = std::move(fillRow);
  if (!movie.MoovFirst) file.Tail = moov;
  return file;
}

std::vector<std::pair<uint64_t, Bytes>> TrackedMovieFile(const std::vector<MovieTrack>& tracks,
                                                         const SampleFiller& fill,
                                                         uint64_t dataAt) {
  const Bytes ftyp = MovieFtyp(), wide = AtomHeader(8, "wide");
  const uint64_t headBytes = ftyp.size() + wide.size() + 16;
  if (dataAt < headBytes) dataAt = headBytes;
  // Chunk k of every track, in track order, before chunk k + 1 of any.
  Bytes data;
  std::vector<std::vector<uint64_t>> chunkOffsets(tracks.size());
  uint32_t mostChunks = 0;
  for (const MovieTrack& track : tracks) mostChunks = std::max(mostChunks, ChunkCount(track));
  for (uint32_t chunk = 0; chunk < mostChunks; ++chunk) {
    for (size_t t = 0; t < tracks.size(); ++t) {
      const MovieTrack& track = tracks[t];
      if (chunk >= ChunkCount(track)) continue;
      chunkOffsets[t].push_back(dataAt + data.size());
      const uint32_t first = chunk * track.SamplesPerChunk;
      const uint32_t last = std::min(track.Samples, first + track.SamplesPerChunk);
      for (uint32_t s = first; s < last; ++s) {
        const size_t at = data.size();
        data.resize(at + SampleBytes(track));
        fill(t, s, &data[at], SampleBytes(track));
      }
    }
  }
  // The mdat runs from its header over the hole to the last chunk: always 64-bit sized.
  const Bytes head =
      Join({ftyp, wide, ExtendedAtomHeader(dataAt + data.size() - headBytes + 16, "mdat")});
  const uint64_t moovAt = dataAt + data.size();
  return {{0, head}, {dataAt, std::move(data)}, {moovAt, TracksMoov(tracks, chunkOffsets)}};
}
