// The layout of a matched patch, shared by the maker and the reader.
//
// A matched patch rebuilds the new file as a sequence of steps, each read
// from a control stream: the old position moves by "seek", then "add" bytes
// of the old file from there, each with a difference byte added (code that
// moved keeps its shape while the addresses inside it shift, so most
// differences are zero), then "copy" new bytes. The three
// streams (control, differences, new bytes) are Zstandard frames of their
// own, so each compresses on its own kind of content; the new bytes' frame
// has the old file as its reference prefix, so short runs the matcher left
// out still cost little.
//
//   offset  size  field
//        0     8  kMatchMagic
//        8     8  the old file's size         (integers: little-endian)
//       16     8  the new file's size
//       24    32  the new file's SHA-256
//       56     8  the control frame's size, then the differences' and the
//                 new bytes' (each frame follows the header in that order,
//                 and the file ends with the last)
//
// The differences carry like the digits of a number: a field that grew by
// a small amount past a byte boundary (an address 0x1ff0 that became
// 0x2010) differs in one byte, not two. The difference byte d at old byte
// o, with the carry c from the byte before (0 at a step's start), makes
// o + c + d; the carry into the next byte is -1, 0 or 1 as o + c + d, with
// d read as a signed byte, falls below, within or above 0..255.
//
// A step in the control stream: seek as a zig-zag signed LEB128, then add
// and copy as unsigned LEB128. Every step makes at least one byte, and the
// old position stays within the old file.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kelvora::delta {

inline constexpr std::string_view kMatchMagic{"KVMATCH1", 8};
inline constexpr size_t kMatchHeaderSize = 80;

// The window of the control and difference frames: what a decoder holds of
// each at most, whatever the files' sizes.
inline constexpr int kMatchStreamWindowLog = 23;

struct TMatchHeader {
  uint64_t OldSize = 0;
  uint64_t NewSize = 0;
  std::array<uint8_t, 32> NewSha256{};
  uint64_t Control = 0, Differences = 0, Extra = 0;  // the frames' sizes
};

inline int MatchCarry(uint8_t Old, int Carry, uint8_t Difference) {
  const int sum = Old + Carry + static_cast<int8_t>(Difference);
  return sum < 0 ? -1 : sum > 255 ? 1 : 0;
}

inline void PutLe64(uint8_t* At, uint64_t V) {
  for (int i = 0; i < 8; ++i) At[i] = static_cast<uint8_t>(V >> (8 * i));
}
inline uint64_t GetLe64(const uint8_t* At) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | At[i];
  return v;
}

}  // namespace kelvora::delta
