// Pack headers written rather than read: a clock set into a copied header, a header made from
// a parsed one.
#pragma once

#include <cstdint>
#include <vector>

#include "mpeg/packscanner.h"

// The pack clock in 27 MHz units (MPEG-1 counts 90 kHz only).
int64_t Clock27(const CPackHeader& pack);

// Writes a pack clock, taken round its 33-bit wrap, into the pack header at bytes, keeping
// every other bit: the start code's pattern, the marker bits, the mux rate and the stuffing.
// MPEG-1 keeps only the 90 kHz part.
void WritePackClock(unsigned char* bytes, bool mpeg2, int64_t clock27);

// A pack header made from a parsed one, without stuffing, for a source whose first pack
// cannot be read.
std::vector<unsigned char> MakePackHeader(const CPackHeader& pack);
