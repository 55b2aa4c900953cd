#include "net/base/NetDriver.h"

#include "net/base/NetConstants.h"

namespace Network {

uint32_t UnsupportedNetDriver::Listen(uint32_t) { return NETERROR_NOT_SUPPORTED; }
uint32_t UnsupportedNetDriver::Connect(const char*, uint32_t, uint32_t) { return NETERROR_NOT_SUPPORTED; }

}  // namespace Network
