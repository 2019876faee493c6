// Why a scan or a load failed, in words a user can act on: every refusal the readers and the
// scan make is one entry of this list, written once, and SetReason is the only way into
// Viewer.Reason. The error box and the frame tool show it under their message.
#pragma once

#include <cstdint>

// One per refusal. The comment gives the arguments its text takes, in order.
enum ReasonId : int32_t {
  kReasonPathTooLong,        // -
  kReasonNoSuchFile,         // -
  kReasonListTooLarge,       // files (int)
  kReasonNameTooLong,        // -
  kReasonUnknownExtension,   // -
  kReasonCantOpen,           // -
  kReasonNotInSequence,      // frame (int), frames (int)
  kReasonBitmapTooSmall,     // -
  kReasonDpxShort,           // bytes (int)
  kReasonDpxMagic,           // -
  kReasonDpxElementCount,    // elements (int)
  kReasonDpxElementsDiffer,  // element (int)
  kReasonDpxSigned,          // -
  kReasonDpxEncoded,         // -
  kReasonDpxDescriptor,      // what the descriptor names (text), descriptor (int)
  kReasonDpxPacking,         // packing (int)
  kReasonDpxOrientation,     // orientation (int)
  kReasonDpxBits,            // bits (int)
  kReasonTooLarge,           // width (unsigned), height (unsigned)
  kReasonPlanarNoSize,       // -
  kReasonPlaneMissing,       // colour (text)
  kReasonMovNoFrames,        // -
  kReasonMovFragmented,      // -
  kReasonMovNoPicture,       // -
  kReasonMovCodecNamed,      // codec (text), four characters (text)
  kReasonMovCodec,           // four characters (text)
  kReasonMovPictureSize,     // width (int), height (int)
  kReasonMovTooManyFrames,   // frames (unsigned)
  kReasonMovTablesShort,     // -
  kReasonMovTablesDisagree,  // -
  kReasonMovFrameShort,      // frame (unsigned), bytes (unsigned), bytes of its rows (unsigned)
  kReasonMovSampleSize,      // bytes (unsigned)
  kReasonMovFrameMissing,    // frame (int), frames (int)
  kReasonNoMemory,           // -
  kReasonCount
};

// Empties the reason: at the start of every scan and load.
void ClearReason();

// Viewer.Reason becomes "name: fact", the name that of the file at `path` (its folder left
// out), the fact the text of `id` with the arguments; a name too long to leave the fact whole is
// cut at its start. Viewer.ReasonFact is where the fact begins.
void SetReason(ReasonId id, const char* path, ...);
