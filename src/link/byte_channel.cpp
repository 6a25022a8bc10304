#include "link/byte_channel.h"

namespace pq640 {
namespace {

void FoldIntoChecksum(const std::uint8_t* bytes, std::uint32_t count) {
  PortState& state = Port();
  if (!state.checksum_enabled) return;
  for (std::uint32_t i = 0; i < count; ++i) state.checksum ^= bytes[i];
}

ResultCode SendOverTcp(const std::uint8_t* data, std::uint32_t count) {
  const os::Socket socket = Port().tcp_socket;
  if (socket == os::kInvalidSocket) return PQ640_NO_SOCKET;
  const std::int32_t sent = os::SocketSend(socket, data, count);
  if (sent < 0 || static_cast<std::uint32_t>(sent) != count) return PQ640_SEND_FAILED;
  return PQ640_OK;
}

// Every receive call waits at most tcp_wait_ms for data, so a terminal that
// stalls in the middle of a payload cannot hold the caller forever.
ResultCode ReceiveOverTcp(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived) {
  const PortState& state = Port();
  if (state.tcp_socket == os::kInvalidSocket) return PQ640_NO_SOCKET;
  do {
    if (os::SocketWaitReadable(state.tcp_socket, state.tcp_wait_ms) != os::WaitResult::kReady) {
      return PQ640_TCP_FAILED;
    }
    const std::int32_t got =
        os::SocketReceive(state.tcp_socket, buffer + *arrived, count - *arrived);
    // 0 is the terminal closing the connection in the middle of the read.
    if (got <= 0) return PQ640_READ_FAILED;
    *arrived += static_cast<std::uint32_t>(got);
  } while (*arrived < count);
  return PQ640_OK;
}

ResultCode ReceiveOverSerial(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* arrived) {
  const PortState& state = Port();
  if (state.serial_port == 0) return PQ640_NO_SERIAL_PORT;
  // One read governed by the port's time-outs; it reports what arrived in time.
  if (!os::SerialRead(state.serial_handle, buffer, count, arrived)) return PQ640_READ_FAILED;
  return PQ640_OK;
}

ResultCode SendLittleEndian(std::uint32_t value, std::uint32_t width) {
  std::uint8_t bytes[4];
  for (std::uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return SendBytes(bytes, width);
}

ResultCode ReceiveLittleEndian(std::uint32_t* value, std::uint32_t width) {
  std::uint8_t bytes[4] = {};
  const ResultCode result = ReceiveBytes(bytes, width);
  if (result != PQ640_OK) return result;
  std::uint32_t assembled = 0;
  for (std::uint32_t i = 0; i < width; ++i) assembled |= std::uint32_t{bytes[i]} << (8 * i);
  *value = assembled;
  return PQ640_OK;
}

}  // namespace

ResultCode SendBytes(const std::uint8_t* data, std::uint32_t count) {
  const PortState& state = Port();
  if (state.link_kind == LinkKind::kSerial) {
    if (state.serial_port == 0) return PQ640_NO_SERIAL_PORT;
    // A failed or short serial write shows when the response is read.
    std::uint32_t written = 0;
    (void)os::SerialWrite(state.serial_handle, data, count, &written);
  } else {
    const ResultCode result = SendOverTcp(data, count);
    if (result != PQ640_OK) return result;
  }
  FoldIntoChecksum(data, count);
  return PQ640_OK;
}

ResultCode ReceiveBytes(std::uint8_t* buffer, std::uint32_t count) {
  std::uint32_t arrived = 0;
  const ResultCode result = Port().link_kind == LinkKind::kSerial
                                ? ReceiveOverSerial(buffer, count, &arrived)
                                : ReceiveOverTcp(buffer, count, &arrived);
  if (result != PQ640_OK) return result;
  if (count != 0 && arrived == 0) return PQ640_READ_FAILED;
  if (arrived < count) return PQ640_SHORT_READ;
  FoldIntoChecksum(buffer, count);
  return PQ640_OK;
}

ResultCode SendU8(std::uint32_t value) { return SendLittleEndian(value, 1); }
ResultCode SendU16(std::uint32_t value) { return SendLittleEndian(value, 2); }
ResultCode SendU32(std::uint32_t value) { return SendLittleEndian(value, 4); }

ResultCode ReceiveU8(std::uint8_t* value) {
  std::uint32_t wide = 0;
  const ResultCode result = ReceiveLittleEndian(&wide, 1);
  if (result == PQ640_OK) *value = static_cast<std::uint8_t>(wide);
  return result;
}

ResultCode ReceiveU16(std::uint16_t* value) {
  std::uint32_t wide = 0;
  const ResultCode result = ReceiveLittleEndian(&wide, 2);
  if (result == PQ640_OK) *value = static_cast<std::uint16_t>(wide);
  return result;
}

ResultCode ReceiveU32(std::uint32_t* value) { return ReceiveLittleEndian(value, 4); }

}  // namespace pq640
