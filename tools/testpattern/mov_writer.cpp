// A QuickTime movie of uncompressed v210 frames.
//
//   ftyp 'qt  '
//   [moov]               with --moov-first
//   wide (8 bytes)       room to grow the mdat header to 16 bytes in place
//   mdat                 size 8 + data, or size 1 and a 64-bit size 16 + data; frames back to back
//   [moov]               the usual place
//     mvhd, trak / tkhd, mdia / mdhd, hdlr 'vide', minf / vmhd, hdlr, dinf,
//     stbl / stsd 'v210' (colr nclc 9-14-9, fiel, pasp), stts, stsc, stsz, stco
//
// All frames sit in one chunk, so the one chunk offset is the mdat payload start and stays
// below 4 GiB however long the movie is.
//
// v210 row: (2 * width / 3) * 4 bytes, groups of four little-endian words carrying six pixels:
//   word 0 = Cb0 | Y0 << 10 | Cr0 << 20     word 1 = Y1 | Cb1 << 10 | Y2 << 20
//   word 2 = Cr1 | Y3 << 10 | Cb2 << 20     word 3 = Y4 | Cr2 << 10 | Y5 << 20
// Chroma is taken from the even pixel of each pair (co-sited), not averaged, so the even
// columns come back exactly.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tools/testpattern/output_file.h"
#include "tools/testpattern/pattern.h"
#include "tools/testpattern/writers.h"

namespace {

constexpr uint32_t kTimeScale = 24;  // one tick per frame at 24 frames a second

// Builds nested atoms; each End patches the size of the atom that Begin opened.
class AtomBuilder {
 public:
  void Begin(const char* type) {
    open_.push_back(bytes_.size());
    U32(0);
    Type(type);
  }
  void End() {
    const size_t start = open_.back();
    open_.pop_back();
    PutBigEndian32(&bytes_[start], uint32_t(bytes_.size() - start));
  }
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) {
    U8(uint8_t(v >> 8));
    U8(uint8_t(v));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v >> 16));
    U16(uint16_t(v));
  }
  void Type(const char* fourcc) { bytes_.insert(bytes_.end(), fourcc, fourcc + 4); }
  void Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  // A Pascal string padded with zeros to room bytes (room 0: no padding).
  void Pascal(const char* text, size_t room) {
    const size_t n = std::strlen(text);
    U8(uint8_t(n));
    bytes_.insert(bytes_.end(), text, text + n);
    if (room > n + 1) Zeros(room - n - 1);
  }
  void Matrix() {
    const uint32_t unity[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (uint32_t v : unity) U32(v);
  }
  const ByteVector& Bytes() const { return bytes_; }

 private:
  ByteVector bytes_;
  std::vector<size_t> open_;
};

uint32_t FrameBytes(const PatternJob& job) {
  return uint32_t((2 * job.Width / 3) * 4) * uint32_t(job.Height);
}

void AddSampleDescription(AtomBuilder& a, const PatternJob& job) {
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
  a.U16(uint16_t(job.Width));
  a.U16(uint16_t(job.Height));
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

void AddSampleTables(AtomBuilder& a, const PatternJob& job, uint32_t chunkOffset) {
  const uint32_t frames = uint32_t(job.Frames);
  a.Begin("stbl");
  AddSampleDescription(a, job);
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
  a.U32(FrameBytes(job));  // one size for all: no table follows
  a.U32(frames);
  a.End();
  a.Begin("stco");
  a.U32(0);
  a.U32(1);
  a.U32(chunkOffset);
  a.End();
  a.End();
}

ByteVector MakeMoov(const PatternJob& job, uint32_t chunkOffset) {
  const uint32_t duration = uint32_t(job.Frames);
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
  a.U32(uint32_t(job.Width) << 16);
  a.U32(uint32_t(job.Height) << 16);
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
  AddSampleTables(a, job, chunkOffset);
  a.End();  // minf
  a.End();  // mdia
  a.End();  // trak
  a.End();  // moov
  return a.Bytes();
}

ByteVector MakeFtyp() {
  AtomBuilder a;
  a.Begin("ftyp");
  a.Type("qt  ");
  a.U32(0x20050300);
  a.Type("qt  ");
  a.End();
  return a.Bytes();
}

ByteVector MakeWide() {
  AtomBuilder a;
  a.Begin("wide");
  a.End();
  return a.Bytes();
}

ByteVector MakeMdatHeader(uint64_t payload, bool extended) {
  ByteVector h(extended ? 16 : 8);
  if (extended) {
    PutBigEndian32(&h[0], 1);
    std::memcpy(&h[4], "mdat", 4);
    const uint64_t size = payload + 16;
    PutBigEndian32(&h[8], uint32_t(size >> 32));
    PutBigEndian32(&h[12], uint32_t(size));
  } else {
    PutBigEndian32(&h[0], uint32_t(payload + 8));
    std::memcpy(&h[4], "mdat", 4);
  }
  return h;
}

struct YCbCr10 {
  uint16_t Y;
  uint16_t Cb;
  uint16_t Cr;
};

// BT.2020 non-constant luminance, straight on the narrow-range codes: with Kr + Kg + Kb = 1
// the black offset of 64 carries over to Y unchanged, and the colour differences only need
// rescaling from the 876-step luma span to the 896-step chroma span.
YCbCr10 ToYCbCr(Rgb10 c) {
  constexpr double kr = 0.2627, kb = 0.0593, kg = 1.0 - kr - kb;
  const double y = kr * c.R + kg * c.G + kb * c.B;
  const double cb = 512.0 + (c.B - y) * (896.0 / 876.0) / (2.0 * (1.0 - kb));
  const double cr = 512.0 + (c.R - y) * (896.0 / 876.0) / (2.0 * (1.0 - kr));
  // v210 keeps 0..3 and 1020..1023 out of the picture: they are timing codes in SDI.
  auto code = [](double v) { return uint16_t(std::clamp(std::lround(v), 4L, 1019L)); };
  return {code(y), code(cb), code(cr)};
}

// One picture row into its v210 bytes. Runs of one colour are long, so the conversion is
// only redone when the colour changes.
void PackV210Row(const Rgb10* pattern, int32_t width, YCbCr10* converted, uint8_t* out) {
  Rgb10 last = {0, 0, 0};
  YCbCr10 lastConverted = ToYCbCr(last);
  for (int32_t x = 0; x < width; ++x) {
    const Rgb10 c = pattern[x];
    if (c.R != last.R || c.G != last.G || c.B != last.B) {
      last = c;
      lastConverted = ToYCbCr(c);
    }
    converted[x] = lastConverted;
  }
  for (int32_t x = 0; x < width; x += 6) {
    const YCbCr10* p = converted + x;
    const uint32_t words[4] = {
        uint32_t(p[0].Cb) | uint32_t(p[0].Y) << 10 | uint32_t(p[0].Cr) << 20,
        uint32_t(p[1].Y) | uint32_t(p[2].Cb) << 10 | uint32_t(p[2].Y) << 20,
        uint32_t(p[2].Cr) | uint32_t(p[3].Y) << 10 | uint32_t(p[4].Cb) << 20,
        uint32_t(p[4].Y) | uint32_t(p[4].Cr) << 10 | uint32_t(p[5].Y) << 20,
    };
    for (int i = 0; i < 4; ++i) PutLittleEndian32(out + i * 4, words[i]);
    out += 16;
  }
}

}  // namespace

int32_t WriteMovie(const PatternJob& job) {
  OutputFile out(job.OutDir + "/" + job.Name + ".mov");
  if (!out.IsOpen()) {
    std::fprintf(stderr, "Can't create %s\n", out.Path().c_str());
    return -1;
  }
  const uint64_t payload = uint64_t(FrameBytes(job)) * uint64_t(job.Frames);
  // 32 bits cannot hold the size of more than 4 GiB of frames: 64 bits then, asked for or not.
  const bool extended = job.Mdat64 || payload + 8 > 0xFFFFFFFFull;
  const ByteVector ftyp = MakeFtyp();
  const ByteVector wide = MakeWide();
  const ByteVector mdatHeader = MakeMdatHeader(payload, extended);
  // The moov's size does not depend on the offset it records, so measure it once with a
  // stand-in offset.
  const size_t moovSize = MakeMoov(job, 0).size();
  const uint64_t dataStart =
      ftyp.size() + (job.MoovFirst ? moovSize : 0) + wide.size() + mdatHeader.size();
  const ByteVector moov = MakeMoov(job, uint32_t(dataStart));

  out.Write(ftyp);
  if (job.MoovFirst) out.Write(moov);
  out.Write(wide);
  out.Write(mdatHeader);
  // Width is 3840 or 7680, a whole number of six-pixel groups.
  std::vector<Rgb10> pattern(size_t(job.Width));
  std::vector<YCbCr10> converted(size_t(job.Width));
  ByteVector row(size_t((2 * job.Width / 3) * 4));
  for (int32_t i = 0; i < job.Frames; ++i) {
    const PatternLayout layout = MakePatternLayout(job.Width, job.Height, job.FirstNumber + i);
    for (int32_t y = 0; y < job.Height; ++y) {
      RenderPatternRow(layout, y, pattern.data());
      PackV210Row(pattern.data(), job.Width, converted.data(), row.data());
      out.Write(row);
    }
  }
  if (!job.MoovFirst) out.Write(moov);
  if (!out.Close()) {
    std::fprintf(stderr, "Can't write %s\n", out.Path().c_str());
    return -1;
  }
  return 0;
}
