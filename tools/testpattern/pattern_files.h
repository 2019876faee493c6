// The test picture (pattern.h) in each layout the viewer reads, made row by row.
#pragma once

#include <cstdint>

#include "tools/testpattern/movie_file.h"
#include "tools/testpattern/row_file.h"

// A DPX frame showing `number`; its head is DpxHeader(width, height), to be replaced at will.
RowFile PatternDpx(int32_t width, int32_t height, int32_t number);

// Plane 0, 1 or 2 (R, G or B) of a planar frame showing `number`.
RowFile PatternPlane(int32_t width, int32_t height, int32_t number, int32_t plane);

// A movie whose frames show firstNumber, firstNumber + 1, ...
RowFile PatternMovie(const MovieInfo& movie, int32_t firstNumber);
