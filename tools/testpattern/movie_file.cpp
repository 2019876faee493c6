#include "tools/testpattern/movie_file.h"

#include <utility>

#include "formats/v210_row.h"
#include "tools/testpattern/atoms.h"

namespace {

constexpr uint32_t kTimeScale = 24;  // one tick per frame at 24 frames a second

void AddSampleDescription(AtomBuilder& a, const MovieInfo& movie) {
  a.Begin("stsd");
  a.U32(0);  // version, flags
  a.U32(1);  // one description
  a.Begin("v210");
  a.Zeros(6);
  a.U16(1);      // data reference index
  a.U16(0);      // version
  a.U16(0);      // revision
  a.U32(0);      // vendor
  a.U32(0);      // temporal quality
  a.U32(0x400);  // spatial quality: lossless
  a.U16(uint16_t(movie.Width));
  a.U16(uint16_t(movie.Height));
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
  a.End();
  a.End();
}

void AddSampleTables(AtomBuilder& a, const MovieInfo& movie, uint32_t chunkOffset) {
  const uint32_t frames = uint32_t(movie.Frames);
  a.Begin("stbl");
  AddSampleDescription(a, movie);
  a.Begin("stts");
  a.U32(0);
  a.U32(1);
  a.U32(frames);  // samples, each one tick long
  a.U32(1);
  a.End();
  a.Begin("stsc");
  a.U32(0);
  a.U32(1);
  a.U32(1);       // from chunk 1
  a.U32(frames);  // every sample in it
  a.U32(1);       // description 1
  a.End();
  a.Begin("stsz");
  a.U32(0);
  a.U32(MovieFrameBytes(movie.Width, movie.Height));  // one size for all: no table follows
  a.U32(frames);
  a.End();
  a.Begin("stco");
  a.U32(0);
  a.U32(1);
  a.U32(chunkOffset);
  a.End();
  a.End();
}

}  // namespace

Bytes MovieMoov(const MovieInfo& movie, uint32_t chunkOffset) {
  const uint32_t duration = uint32_t(movie.Frames);
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
  a.Zeros(24);  // preview, poster, selection, current time
  a.U32(2);     // next track id
  a.End();

  a.Begin("trak");
  a.Begin("tkhd");
  a.U32(0x3);  // enabled, in movie
  a.U32(0);
  a.U32(0);
  a.U32(1);  // track id
  a.U32(0);
  a.U32(duration);
  a.Zeros(8);
  a.U16(0);  // layer
  a.U16(0);  // alternate group
  a.U16(0);  // volume: video has none
  a.U16(0);
  a.Matrix();
  a.U32(uint32_t(movie.Width) << 16);
  a.U32(uint32_t(movie.Height) << 16);
  a.End();

  a.Begin("mdia");
  a.Begin("mdhd");
  a.U32(0);
  a.U32(0);
  a.U32(0);
  a.U32(kTimeScale);
  a.U32(duration);
  a.U16(0x7FFF);  // language: unspecified
  a.U16(0);
  a.End();
  a.Begin("hdlr");
  a.U32(0);
  a.Type("mhlr");
  a.Type("vide");
  a.Zeros(12);
  a.Pascal("VideoHandler", 0);
  a.End();

  a.Begin("minf");
  a.Begin("vmhd");
  a.U32(1);
  a.U16(0x40);  // dither copy
  a.Zeros(6);
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
  AddSampleTables(a, movie, chunkOffset);
  a.End();  // minf
  a.End();  // mdia
  a.End();  // trak
  a.End();  // moov
  return a.Result();
}

uint32_t MovieFrameBytes(int32_t width, int32_t height) {
  return uint32_t(GetV210RowGeometry(width).stride) * uint32_t(height);
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
  file.RowBytes = size_t(GetV210RowGeometry(movie.Width).stride);
  file.FillRow = std::move(fillRow);
  if (!movie.MoovFirst) file.Tail = moov;
  return file;
}
