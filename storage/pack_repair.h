// The integrity check of a pack entry's stored bytes and its repair from
// the trailer that may follow them in the pack:
//
//   uint32 parity length   0: no repair data; otherwise 1024
//   uint32 block count n   ceil(stored length / 1024)
//   n x uint16             low 16 bits of each 1024-byte block's CRC-32
//   parity length bytes    byte k = XOR of byte k of every block (a missing
//                          byte of the short last block counts as 0)
//
// One damaged block is rebuilt exactly from the parity; two or more are not.
#pragma once

#include <cstdint>
#include <span>

#include "storage/pack_file.h"

namespace zk {

inline constexpr uint32_t kRepairBlockSize = 1024;

// The standard CRC-32 (zlib's crc32).
uint32_t ComputeCrc32(std::span<const uint8_t> bytes);

// `stream` stands just behind the stored bytes. 0 the checksum matches
// (nothing is read); 1 the bytes were repaired in place and now match; -1
// they do not match and cannot be repaired. A trailer that does not fit the
// stored length (parity length other than 1024, block count other than
// ceil(length / 1024)) repairs nothing.
int32_t VerifyAndRepair(PackStream& stream, std::span<uint8_t> stored, uint32_t checksum);

}  // namespace zk
