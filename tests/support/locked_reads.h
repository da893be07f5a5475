#ifndef TESTS_SUPPORT_LOCKED_READS_H
#define TESTS_SUPPORT_LOCKED_READS_H

// What the links and the chip thread write, read by a test while they run:
// under the locks the program writes it with, so the test sees whole values
// and the thread checker sees them ordered (replies travel through the
// kernel, which orders nothing for it).

#include <cstdint>

namespace zemtest {

uint8_t imageByte(uint32_t off);
uint16_t imageWord(uint32_t off);
uint8_t slotByte(uint32_t slot, uint32_t off);
// Byte `index` of the controller register file; the chip thread's apply
// pass takes and clears the debug registers under the image's lock.
uint8_t registerByte(uint32_t index);
// The chip manager's pending apply request.
uint8_t applyRequest();
// Writes of the same data, under the same locks.
void setImageWord(uint32_t off, uint16_t value);
void setSlotByte(uint32_t slot, uint32_t off, uint8_t value);

} // namespace zemtest

#endif
