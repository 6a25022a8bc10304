#include "link_session.h"

#include <pq640/pq640.h>

#include <cctype>

#include "failure_report.h"

namespace pq640admin {
namespace {

int Rejected(const std::string& what, PQ640_ResultCode code) {
  return Refuse(what + " rejected: " + std::to_string(code) + " (" + PQ640_ResultText(code) + ")");
}

}  // namespace

int OpenLink(const LinkOptions& link) {
  SetReportedLink(link);
  if (link.tcp_address) {
    if (auto r = PQ640_SetTerminalIPAddr(link.tcp_address->c_str()); r != PQ640_OK) {
      return Rejected("address " + *link.tcp_address, r);
    }
    if (auto r = PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, link.baud_code); r != PQ640_OK) {
      return Rejected("TCP link", r);
    }
  } else {
    const auto r = PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, *link.serial_port, link.baud_code);
    if (r != PQ640_OK) {
      return Rejected("serial port " + std::to_string(*link.serial_port) + " with baud code " +
                          std::to_string(link.baud_code),
                      r);
    }
  }
  if (auto r = PQ640_SetTerminalID(link.terminal_id); r != PQ640_OK) {
    return Rejected("terminal ID " + std::to_string(link.terminal_id), r);
  }
  if (auto r = PQ640_OpenPort(); r != PQ640_OK) return Fail("opening the port", r);
  if (link.wake) PQ640_WakeUp();
  return kExitOk;
}

int CloseLink() {
  if (auto r = PQ640_ClosePort(); r != PQ640_OK) return Fail("closing the port", r);
  return kExitOk;
}

LinkOptions LinkTo(const std::string& target, std::uint16_t terminal_id, const LinkOptions& like) {
  LinkOptions link;
  link.baud_code = like.baud_code;
  link.wake = like.wake;
  link.terminal_id = terminal_id;
  const bool serial = target.size() > 3 && target.size() <= 5 && target.rfind("COM", 0) == 0 &&
                      std::isdigit(static_cast<unsigned char>(target[3])) &&
                      std::isdigit(static_cast<unsigned char>(target.back()));
  if (serial) {
    link.serial_port = static_cast<std::uint16_t>(std::stoi(target.substr(3)));
    link.wake = like.wake;
  } else {
    link.tcp_address = target;
    link.wake = false;
  }
  return link;
}

}  // namespace pq640admin
