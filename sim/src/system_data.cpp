#include "pq640sim/system_data.h"

#include "pq640sim/little_endian.h"

namespace pq640sim {

SystemData DefaultSystemData() {
  SystemData block{};
  block[0] = 10;
  block[1] = 1;
  block[2] = 0;
  StoreU16(block, 4, 1);
  StoreU32(block, 32, 5);
  StoreU32(block, 36, 3);
  StoreU32(block, 40, 1000);
  StoreU32(block, 44, 500);
  StoreU32(block, 48, 1000);
  StoreU32(block, 52, 900);
  StoreU32(block, 56, 50000);
  StoreU32(block, 60, 45000);
  StoreU32(block, 64, 100);
  StoreU32(block, 68, 2);
  for (std::size_t offset = 72; offset < kSystemDataSize; ++offset) {
    block[offset] = static_cast<std::uint8_t>(offset);
  }
  return block;
}

bool IsAcceptableSystemData(const SystemData& block) {
  auto u32 = [&](std::size_t offset) { return LoadU32(block, offset); };
  const std::uint32_t group_a = u32(32);
  return block[0] <= 30 && block[1] <= 1 && block[2] <= 2 && LoadU16(block, 4) <= 99 &&
         group_a >= 1 && group_a <= 10 && u32(36) <= group_a && u32(68) <= group_a &&
         u32(40) <= 1000 && u32(44) <= u32(40) && u32(64) <= 1000 && u32(48) <= 1000 &&
         u32(52) <= u32(48) && u32(56) <= 50000 && u32(60) <= u32(56);
}

}  // namespace pq640sim
