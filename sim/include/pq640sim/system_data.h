// The terminal's 256-byte settings block and the rules by which the terminal
// accepts a new one. Numbers in the block are little-endian and unsigned.
//
// Defaults (a fresh or erased terminal); every byte not listed is 0:
//
// | Offset  | Width | Default | Acceptance rule           |
// |---------|-------|---------|---------------------------|
// | 0       | 1     | 10      | at most 30                |
// | 1       | 1     | 1       | at most 1                 |
// | 2       | 1     | 0       | at most 2                 |
// | 4       | 2     | 1       | at most 99                |
// | 32      | 4     | 5       | 1 to 10                   |
// | 36      | 4     | 3       | at most the value at 32   |
// | 40      | 4     | 1000    | at most 1000              |
// | 44      | 4     | 500     | at most the value at 40   |
// | 48      | 4     | 1000    | at most 1000              |
// | 52      | 4     | 900     | at most the value at 48   |
// | 56      | 4     | 50000   | at most 50000             |
// | 60      | 4     | 45000   | at most the value at 56   |
// | 64      | 4     | 100     | at most 1000              |
// | 68      | 4     | 2       | at most the value at 32   |
// | 72..255 | 1     | offset  | free (counting pattern)   |
//
// Bytes 3 and 6..31 are free as well. The counting pattern in 72..255 (byte n
// holds n) makes a shifted or truncated copy of the block visible.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pq640sim {

inline constexpr std::size_t kSystemDataSize = 256;
using SystemData = std::array<std::uint8_t, kSystemDataSize>;

SystemData DefaultSystemData();
bool IsAcceptableSystemData(const SystemData& block);

}  // namespace pq640sim
