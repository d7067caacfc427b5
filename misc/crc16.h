// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR.
// Guards the start-up files and every record kept in backup memory.
#pragma once

#include <cstddef>

#include "misc/gnss_types.h"

// CRC of len bytes of buf, continuing from init (the CRC of the bytes before;
// crc16_wi(buf, len, 0) == crc16(buf, len)). Returns the 16-bit CRC; len 0
// returns init.
U16 crc16_wi(const U08* buf, std::size_t len, U16 init);
// CRC of len bytes of buf from the initial value 0 ("123456789" gives 0x31C3).
U16 crc16(const U08* buf, std::size_t len);
