// The QuickTime atom scan, over movies built atom by atom in code.
#include "formats/mov_atoms.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>

#include "core/viewer_state.h"
#include "tools/testpattern/atoms.h"
#include "tests/unit/test_files.h"

namespace {

// Version and flags, sample size, sample count, and a table of sizes when the size is 0.
Bytes Stsz(uint32_t sampleSize, uint32_t count) {
  Bytes body;
  PutBigEndian32(body, 0, 0);
  PutBigEndian32(body, 4, sampleSize);
  PutBigEndian32(body, 8, count);
  if (sampleSize == 0) {
    for (uint32_t i = 0; i < count; ++i) PutBigEndian32(body, body.size(), 1000 + i);
  }
  return Atom("stsz", body);
}

// trak / mdia / minf / stbl with a sample description and chunk offsets around the stsz.
Bytes Track(const Bytes& stsz) {
  const Bytes stbl = Atom("stbl", Join({Atom("stsd", Bytes(24, 0)), stsz, Atom("stco", Bytes(8))}));
  const Bytes minf = Atom("minf", Join({Atom("vmhd", Bytes(12)), stbl}));
  const Bytes mdia = Atom("mdia", Join({Atom("mdhd", Bytes(24)), Atom("hdlr", Bytes(25)), minf}));
  return Atom("trak", Join({Atom("tkhd", Bytes(84)), mdia}));
}

Bytes Moov(std::initializer_list<Bytes> tracks) {
  return Atom("moov", Join({Atom("mvhd", Bytes(100)), Join(tracks)}));
}

const Bytes kFtyp = Atom("ftyp", Bytes{'q', 't', ' ', ' ', 0, 0, 2, 0, 'q', 't', ' ', ' '});
const Bytes kWide = Atom("wide", {});
const Bytes kMedia(64, 0x5a);  // stands in for the frames

class MovAtomsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetViewerState(); }

  int32_t Scan(const Bytes& movie) {
    EXPECT_TRUE(SetViewerPath(dir_.Write("movie.mov", movie)));
    return ScanMovAtoms();
  }

  // Marks the movie facts so that a test can see which of them a scan overwrote.
  void MarkFacts() {
    Viewer.MovDataOffset = 777;
    Viewer.MovSampleSize = 888;
    Viewer.MovSampleCount = 999;
  }

  TestDir dir_;
};

TEST_F(MovAtomsTest, FindsTheFramesOfTheUsualLayout) {
  struct Case {
    const char* why;
    Bytes mdat;
    uint64_t payloadAt;
  };
  const Case cases[] = {
      {"64-bit size: the payload follows 16 header bytes", ExtendedAtom("mdat", kMedia),
       20 + 8 + 16},
      {"32-bit size: the payload follows 8 header bytes", Atom("mdat", kMedia), 20 + 8 + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ResetViewerState();
    const Bytes movie = Join({kFtyp, kWide, c.mdat, Moov({Track(Stsz(22118400, 3))})});
    EXPECT_EQ(Scan(movie), 3);
    EXPECT_EQ(Viewer.MovDataOffset, c.payloadAt);
    EXPECT_EQ(Viewer.MovSampleSize, 22118400u);
    EXPECT_EQ(Viewer.MovSampleCount, 3);
    EXPECT_NE(Viewer.MovRowBuffer, nullptr);
  }
}

TEST_F(MovAtomsTest, FirstSampleTableInFileOrderWins) {
  // Sound track first: its table counts, whatever its media type; the second is never read.
  const Bytes movie =
      Join({kFtyp, Atom("mdat", kMedia), Moov({Track(Stsz(4, 48000)), Track(Stsz(88473600, 7))})});
  EXPECT_EQ(Scan(movie), 48000);
  EXPECT_EQ(Viewer.MovSampleSize, 4u);
}

TEST_F(MovAtomsTest, EntersOnlyTheFiveContainersSpelledExactly) {
  // MOOV is passed over whole, so the sample table inside it is not seen; the real moov after
  // it is entered. A second MOOV-only movie finds nothing at all.
  const Bytes upper = Atom("MOOV", Track(Stsz(22118400, 5)));
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), upper, Moov({Track(Stsz(22118400, 3))})})), 3);
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), upper})), 0);
  // An stsz standing at the top level is found too: the walk is flat.
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), Stsz(22118400, 2)})), 2);
  // Inside an atom that is not a container (udta) it is not.
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), Atom("udta", Stsz(22118400, 2))})), 0);
}

TEST_F(MovAtomsTest, ContainerSizeIsNeverUsed) {
  const uint32_t sizes[] = {
      0,           // "to the end of the file"
      8,           // claims to be empty
      3,           // shorter than its own header
      0xffffffff,  // far past the end
  };
  for (uint32_t size : sizes) {
    SCOPED_TRACE(size);
    Bytes moov = Moov({Track(Stsz(22118400, 4))});
    PutBigEndian32(moov, 0, size);
    EXPECT_EQ(Scan(Join({kFtyp, Atom("mdat", kMedia), moov})), 4);
  }
}

TEST_F(MovAtomsTest, SampleTableValuesAreTakenAsTheyStand) {
  // A count of 0 looks like no table at all, but its values were written.
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), Moov({Track(Stsz(22118400, 0))})})), 0);
  EXPECT_EQ(Viewer.MovSampleSize, 22118400u);
  EXPECT_EQ(Viewer.MovSampleCount, 0);
  // A size per sample: the count is the result, the frame size 0 (the reader refuses it).
  EXPECT_EQ(Scan(Join({Atom("mdat", kMedia), Moov({Track(Stsz(0, 3))})})), 3);
  EXPECT_EQ(Viewer.MovSampleSize, 0u);
}

TEST_F(MovAtomsTest, FilesWithoutFramesGiveZero) {
  struct Case {
    const char* why;
    Bytes movie;
    uint64_t offset;  // MovDataOffset afterwards; 777 = untouched
  };
  const Case cases[] = {
      {"empty file", {}, 777},
      {"7 bytes: no whole header", Bytes{0, 0, 0, 8, 'f', 'r', 'e'}, 777},
      {"media data but no sample table", Join({kFtyp, Atom("mdat", kMedia), Atom("moov", {})}), 28},
      {"sample table but no media data at all", Join({kFtyp, Moov({Track(Stsz(22118400, 3))})}),
       777},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    MarkFacts();
    EXPECT_EQ(Scan(c.movie), 0);
    EXPECT_EQ(Viewer.MovDataOffset, c.offset);
  }
}

TEST_F(MovAtomsTest, UnopenablePathGivesZeroButAllocatesTheRowBuffer) {
  MarkFacts();
  ASSERT_TRUE(SetViewerPath(dir_ / "missing.mov"));
  EXPECT_EQ(ScanMovAtoms(), 0);
  EXPECT_NE(Viewer.MovRowBuffer, nullptr);
  EXPECT_EQ(Viewer.MovDataOffset, 777u);
  EXPECT_EQ(Viewer.MovSampleCount, 999);
  // A folder is no movie either.
  ASSERT_TRUE(SetViewerPath(dir_.path().string()));
  EXPECT_EQ(ScanMovAtoms(), 0);
}

TEST_F(MovAtomsTest, MovieWrittenForStreamingFindsMediaDataAfterTheTable) {
  struct Case {
    const char* why;
    Bytes movie;
    int32_t result;
    uint64_t offset;
  };
  const Bytes moov = Moov({Track(Stsz(22118400, 3))});
  const Bytes moovTable = Moov({Track(Stsz(0, 3)), Track(Stsz(4, 9))});
  const uint64_t afterMoov = kFtyp.size() + moov.size();
  const uint64_t afterMoovTable = kFtyp.size() + moovTable.size();
  const Case cases[] = {
      {"moov, then mdat", Join({kFtyp, moov, Atom("mdat", kMedia)}), 3, afterMoov + 8},
      {"free and udta atoms between them",
       Join({kFtyp, moov, Atom("free", Bytes(9)), Atom("udta", Bytes(3)), Atom("mdat", kMedia)}), 3,
       afterMoov + 8 + 17 + 11},
      {"a table of sizes and a second track are passed over",
       Join({kFtyp, moovTable, Atom("mdat", kMedia)}), 3, afterMoovTable + 8},
      {"extended mdat", Join({kFtyp, moov, ExtendedAtom("mdat", kMedia)}), 3, afterMoov + 16},
      {"mdat running to the end of the file (size 0)",
       Join({kFtyp, moov, AtomHeader(0, "mdat"), kMedia}), 3, afterMoov + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    MarkFacts();
    EXPECT_EQ(Scan(c.movie), c.result);
    EXPECT_EQ(Viewer.MovDataOffset, c.offset);
    EXPECT_EQ(Viewer.MovSampleCount, c.result);
  }
}

TEST_F(MovAtomsTest, StreamingTableShorterThanItsBodyGivesZero) {
  // An stsz whose size ends inside the 12 bytes just read: going on would mean moving back.
  Bytes stsz = Stsz(22118400, 3);
  PutBigEndian32(stsz, 0, 16);
  EXPECT_EQ(Scan(Join({kFtyp, Atom("moov", stsz), Atom("mdat", kMedia)})), 0);
}

TEST_F(MovAtomsTest, SizesThatLeadNowhereEndTheWalk) {
  struct Case {
    const char* why;
    Bytes atom;  // stands before a complete movie, which is therefore never reached
  };
  const Case cases[] = {
      {"size 0: runs to the end of the file", AtomHeader(0, "free")},
      {"size 2", AtomHeader(2, "free")},
      {"size 7", AtomHeader(7, "free")},
      {"extended size 15", ExtendedAtomHeader(15, "free")},
      {"extended size 0", ExtendedAtomHeader(0, "free")},
      {"media data of size 0 before the table", AtomHeader(0, "mdat")},
      {"media data of size 5", AtomHeader(5, "mdat")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    MarkFacts();
    EXPECT_EQ(Scan(Join({c.atom, Atom("mdat", kMedia), Moov({Track(Stsz(22118400, 3))})})), 0);
    EXPECT_EQ(Viewer.MovSampleCount, 999);
  }
  // The media data's offset is still recorded before its size is looked at.
  EXPECT_EQ(Viewer.MovDataOffset, 8u);
}

TEST_F(MovAtomsTest, HugeSizesSkipForwardAndEnd) {
  struct Case {
    const char* why;
    Bytes atom;
  };
  const Case cases[] = {
      {"32-bit size 2^31: a forward skip past the end", AtomHeader(0x80000000u, "free")},
      {"32-bit size 2^32 - 1", AtomHeader(0xffffffffu, "free")},
      {"extended size 2^64 - 1 must not wrap to a backwards skip",
       ExtendedAtomHeader(~uint64_t(0), "free")},
      {"extended size 2^63 + 16", ExtendedAtomHeader((uint64_t(1) << 63) + 16, "free")},
      {"media data of extended size 2^64 - 1", ExtendedAtomHeader(~uint64_t(0), "mdat")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Scan(Join({kFtyp, c.atom, Moov({Track(Stsz(22118400, 3))})})), 0);
  }
}

TEST_F(MovAtomsTest, SizeAboveTwoGigabytesIsAForwardSkip) {
  // A sparse file: a free atom of 2^31 + 8 bytes, then the movie. Read as a signed size the
  // skip would go backwards and the movie would never be found.
  const std::string path = dir_ / "big.mov";
  const uint64_t freeSize = 0x80000008u;
  {
    std::ofstream out(path, std::ios::binary);
    const Bytes header = AtomHeader(uint32_t(freeSize), "free");
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    out.seekp(std::streamoff(freeSize));
    const Bytes movie = Join({Atom("mdat", kMedia), Moov({Track(Stsz(22118400, 6))})});
    out.write(reinterpret_cast<const char*>(movie.data()), std::streamsize(movie.size()));
    ASSERT_TRUE(out.good());
  }
  ASSERT_TRUE(SetViewerPath(path));
  EXPECT_EQ(ScanMovAtoms(), 6);
  EXPECT_EQ(Viewer.MovDataOffset, freeSize + 8);
}

TEST_F(MovAtomsTest, TenThousandNestedContainersAreWalkedForward) {
  Bytes movie = Atom("mdat", kMedia);
  const size_t depth = 10000;
  for (size_t i = 0; i < depth; ++i) {
    const Bytes header = AtomHeader(uint32_t(8 * (depth - i) + 20), "moov");
    movie.insert(movie.end(), header.begin(), header.end());
  }
  const Bytes stsz = Stsz(88473600, 12);
  movie.insert(movie.end(), stsz.begin(), stsz.end());
  EXPECT_EQ(Scan(movie), 12);
  EXPECT_EQ(Viewer.MovSampleSize, 88473600u);
}

}  // namespace
