// QuickTime movies of uncompressed v210 frames. MovieFile writes one track:
//
//   ftyp 'qt  '
//   [moov]               with MoovFirst
//   wide (8 bytes)       room to grow the mdat header to 16 bytes in place
//   mdat                 size 8 + data, or size 1 and a 64-bit size 16 + data; frames back to back
//   [moov]               the usual place
//     mvhd, trak / tkhd, mdia / mdhd, hdlr 'vide', minf / vmhd, hdlr, dinf,
//     stbl / stsd 'v210' (colr nclc 9-14-9, fiel, pasp), stts, stsc, stsz, stco
//
// All frames sit in one chunk, so the one chunk offset is the mdat payload start and stays
// below 4 GiB however long the movie is.
//
// TrackedMovieFile writes movies as recorders and editors do: several tracks (picture, sound,
// timecode, other codecs) whose chunks take turns in the media data, chunk k of every track
// before chunk k + 1 of any, each track with its own sample table.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "tools/testpattern/bytes.h"
#include "tools/testpattern/row_file.h"

struct MovieInfo {
  int32_t Width;
  int32_t Height;
  uint32_t Frames;
  bool Mdat64;     // 64-bit mdat size even when 32 bits would do
  bool MoovFirst;  // moov before mdat
};

// The one sample size of the stsz: a whole frame of v210 rows.
uint32_t MovieFrameBytes(int32_t width, int32_t height);

Bytes MovieFtyp();
Bytes MovieMoov(const MovieInfo& movie, uint32_t chunkOffset);

// The whole movie; fillRow makes row `row` of frames laid back to back (Frames * Height rows of
// GetV210RowGeometry(Width).Stride bytes), e.g. with PackV210Row.
RowFile MovieFile(const MovieInfo& movie, RowFiller fillRow);

struct MovieTrack {
  const char* Handler = "vide";  // media handler: vide, soun, tmcd
  const char* Format = "v210";   // sample description: v210, apcn, sowt, tmcd ...
  int32_t Width = 0;             // in the description of a vide track
  int32_t Height = 0;
  uint32_t Samples = 1;
  uint32_t SampleBytes = 0;  // every sample's size; 0: a whole v210 frame of Width x Height
  uint32_t SamplesPerChunk = 1;
  bool SizeTable = false;  // stsz lists every size, though they are equal
  bool Co64 = false;       // 64-bit chunk offsets
};

// Fills sample `sample` of track `track`, `bytes` long.
using SampleFiller = std::function<void(size_t track, uint32_t sample, uint8_t* out, size_t bytes)>;

// The file as pieces at their offsets: ftyp, wide and the mdat header at 0, the chunks from
// dataAt (0: right after the header; more leaves a hole, as a sparse file may), the moov last.
std::vector<std::pair<uint64_t, Bytes>> TrackedMovieFile(const std::vector<MovieTrack>& tracks,
                                                         const SampleFiller& fill,
                                                         uint64_t dataAt = 0);

// A moov of the tracks, the chunk offsets of each track given.
Bytes TracksMoov(const std::vector<MovieTrack>& tracks,
                 const std::vector<std::vector<uint64_t>>& chunkOffsets);
