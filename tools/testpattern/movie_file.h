// QuickTime movies of uncompressed v210 frames, one track:
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
#pragma once

#include <cstdint>

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
// GetV210RowGeometry(Width).stride bytes), e.g. with PackV210Row.
RowFile MovieFile(const MovieInfo& movie, RowFiller fillRow);
