// Fault injection at every OS call: each export runs once to count its calls,
// then once more for every call and every way that call can fail. Each run
// must end with a code the export documents for that failure, leave no
// socket or port the library forgot, and leave the link working.
#include <functional>
#include <set>
#include <string>

#include "record_builders.h"

namespace pq640::test {
namespace {

using fake::Injected;

struct Export {
  const char* name;
  std::function<PQ640_ResultCode()> call;
  Bytes answer;  // the terminal's answer when nothing fails (payload of a result 0)
  bool connects = true;  // a transaction, as opposed to open, close or wake-up
};

PQ640_SystemData ValidBlock() {
  PQ640_SystemData block{};
  block.bytes[32] = 10;
  block.bytes[40] = 0xE8, block.bytes[41] = 0x03;
  block.bytes[48] = 0xE8, block.bytes[49] = 0x03;
  block.bytes[56] = 0x50, block.bytes[57] = 0xC3;
  return block;
}

// Storage the exports write into; sized for the answers below.
struct Buffers {
  PQ640_DateTime clock{26, 12, 8, 9, 30, 0};
  PQ640_SystemData block = ValidBlock();
  PQ640_UserData users[2] = {MakeUser(1, 1, 4), MakeUser(2, 0, 0)};
  PQ640_AdminData admin = MakeAdmin(1, 1, 1, 4);
  std::uint32_t ids[2] = {1, 2};
  std::uint8_t results[2] = {};
  std::uint32_t count = 0;
  PQ640_RecordQuery query{};
  PQ640_IORecord io[2] = {};
  PQ640_AdminRecord admin_records[2] = {};
};

Buffers g;

std::vector<Export> Exports() {
  const Bytes user = UserWire(MakeUser(1, 1, 4));
  const Bytes admin = AdminWire(MakeAdmin(1, 1, 1, 4));
  const Bytes io_record = {26, 12, 8, 9, 30, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const Bytes two_io = Concat({U32(2), io_record, io_record});
  const Bytes block(g.block.bytes, g.block.bytes + 256);
  return {
      {"CheckLink", [] { return PQ640_CheckLink(); }, {}},
      {"UpdateCommState", [] { return PQ640_UpdateCommState(3); }, {}},
      {"ChangeTerminalID", [] { return PQ640_ChangeTerminalID(0); }, {}},
      {"SetTermCommMode", [] { return PQ640_SetTermCommMode(1); }, {}},
      {"SetMatchingPerform", [] { return PQ640_SetMatchingPerform(9); }, {}},
      {"DeleteAllDataRom", [] { return PQ640_DeleteAllDataRom(); }, {}},
      {"GetDateTime", [] { return PQ640_GetDateTime(&g.clock); }, {26, 12, 8, 9, 30, 0}},
      {"SetDateTime", [] { return PQ640_SetDateTime(&g.clock); }, {}},
      {"GetSystemData", [] { return PQ640_GetSystemData(&g.block); }, block},
      {"SetSystemData", [] { return PQ640_SetSystemData(&g.block); }, {}},
      {"AddUserData", [] { return PQ640_AddUserData(&g.users[0]); }, {}},
      {"DeleteUserData", [] { return PQ640_DeleteUserData(1); }, {}},
      {"DeleteAllUserData", [] { return PQ640_DeleteAllUserData(); }, {}},
      {"GetUserData", [] { return PQ640_GetUserData(&g.users[0]); }, user},
      {"AddAdminData", [] { return PQ640_AddAdminData(&g.admin); }, {}},
      {"DeleteAdminData", [] { return PQ640_DeleteAdminData(1); }, {}},
      {"DeleteAllAdminData", [] { return PQ640_DeleteAllAdminData(); }, {}},
      {"GetAdminData", [] { return PQ640_GetAdminData(&g.admin); }, admin},
      {"GetAllUserData", [] { return PQ640_GetAllUserData(&g.count, g.users, PQ640_LIST_RECORDS, nullptr); },
       Concat({U32(2), user, user})},
      {"GetAllAdminData", [] { return PQ640_GetAllAdminData(&g.count, g.ids, PQ640_LIST_IDS, nullptr); },
       Concat({U32(2), U32(1), U32(2)})},
      {"AddUsersData", [] { return PQ640_AddUsersData(2, g.users, g.results, nullptr); }, {0, 0}},
      {"DeleteUsersData", [] { return PQ640_DeleteUsersData(2, g.ids, g.results, nullptr); }, {0, 0}},
      {"GetUsersData", [] { g.count = 2; return PQ640_GetUsersData(&g.count, g.ids, g.users, nullptr); },
       Concat({U32(1), user})},
      {"GetIORecord", [] { return PQ640_GetIORecord(&g.query, &g.count, g.io, nullptr); }, two_io},
      {"GetIORecordNum", [] { return PQ640_GetIORecordNum(&g.query, &g.count); }, U32(2)},
      {"AddIORecord", [] { return PQ640_AddIORecord(&g.io[0]); }, {}},
      {"DeleteIORecord", [] { return PQ640_DeleteIORecord(&g.query); }, {}},
      {"GetUsersIORecord",
       [] { return PQ640_GetUsersIORecord(2, g.ids, 0xFF, &g.clock, &g.clock, &g.count, g.io, nullptr); }, two_io},
      {"GetUsersIORecordNum",
       [] { return PQ640_GetUsersIORecordNum(2, g.ids, 0xFF, &g.clock, &g.clock, &g.count); }, U32(2)},
      {"GetAdminRecord", [] { return PQ640_GetAdminRecord(&g.query, &g.count, g.admin_records, nullptr); },
       Concat({U32(1), Bytes(16, 0xFF)})},
      {"GetAdminRecordNum", [] { return PQ640_GetAdminRecordNum(&g.query, &g.count); }, U32(1)},
      {"AddAdminRecord", [] { return PQ640_AddAdminRecord(&g.admin_records[0]); }, {}},
      {"DeleteAdminRecord", [] { return PQ640_DeleteAdminRecord(&g.query); }, {}},
      {"GetAllUserDataBounded",
       [] { return PQ640_GetAllUserDataBounded(2, &g.count, g.users, PQ640_LIST_RECORDS, nullptr); },
       Concat({U32(2), user, user})},
      {"GetAllAdminDataBounded",
       [] { return PQ640_GetAllAdminDataBounded(2, &g.count, g.ids, PQ640_LIST_IDS, nullptr); },
       Concat({U32(2), U32(1), U32(2)})},
      {"GetIORecordBounded", [] { return PQ640_GetIORecordBounded(&g.query, 2, &g.count, g.io, nullptr); },
       two_io},
      {"GetAdminRecordBounded",
       [] { return PQ640_GetAdminRecordBounded(&g.query, 2, &g.count, g.admin_records, nullptr); },
       Concat({U32(1), Bytes(16, 0xFF)})},
      {"GetUsersIORecordBounded",
       [] { return PQ640_GetUsersIORecordBounded(2, g.ids, 0xFF, &g.clock, &g.clock, 2, &g.count, g.io, nullptr); },
       two_io},
      {"WakeUp", [] { return PQ640_WakeUp(); }, {}, false},
      {"ClosePort", [] { return PQ640_ClosePort(); }, {}, false},
      {"OpenPort", [] { return PQ640_OpenPort(); }, {}, false},
  };
}

// The codes a failure of `call` (a seam function's name) in the way `how`
// may produce. Calls whose failure the library ignores by design, and ways of
// failing a call does not have, leave the command succeeding.
std::set<PQ640_ResultCode> CodesFor(const std::string& call, Injected how) {
  const auto starts = [&](const char* prefix) { return call.rfind(prefix, 0) == 0; };
  const bool transfer = starts("SocketWaitReadable") || starts("SocketSend") || starts("SocketReceive") ||
                        starts("SerialRead") || starts("SocketWaitConnected");
  if (how != Injected::kFailure && !transfer) return {PQ640_OK};
  if (starts("SocketLayerStartup")) return {PQ640_TCP_FAILED};
  if (starts("SocketCreate")) return {PQ640_SOCKET_FAILED};
  if (starts("SocketSetBlocking")) return {PQ640_TCP_FAILED};
  if (starts("SocketConnect")) return {PQ640_OK};  // the second attempt connects
  if (starts("SocketWaitReadable")) {
    return how == Injected::kFailure || how == Injected::kTimeout ? std::set<PQ640_ResultCode>{PQ640_TCP_FAILED}
                                                                   : std::set<PQ640_ResultCode>{PQ640_OK};
  }
  // A send that fails, stops short, or finds no room for the read wait.
  if (starts("SocketSend")) {
    return how == Injected::kPeerClose ? std::set<PQ640_ResultCode>{PQ640_OK}
                                       : std::set<PQ640_ResultCode>{PQ640_SEND_FAILED};
  }
  if (starts("SocketReceive")) {
    if (how == Injected::kFailure || how == Injected::kPeerClose) return {PQ640_READ_FAILED};
    if (how == Injected::kTimeout) return {PQ640_TCP_FAILED};  // nothing came within its wait
    return {PQ640_OK};  // a partial receive is read on
  }
  if (starts("SerialOpen")) return {PQ640_OPEN_FAILED};
  // Closing fails for a close, and for a reopen that must close first.
  if (starts("SerialClose")) return {PQ640_CLOSE_FAILED, PQ640_OPEN_FAILED};
  if (starts("SerialGetTimeouts") || starts("SerialSetTimeouts")) {
    return how == Injected::kFailure ? std::set<PQ640_ResultCode>{PQ640_PORT_REFUSED}
                                     : std::set<PQ640_ResultCode>{PQ640_OK};
  }
  if (starts("SerialRead")) {
    if (how == Injected::kFailure) return {PQ640_READ_FAILED};
    // Nothing or part of a field arrived in time.
    if (how == Injected::kTimeout || how == Injected::kShort) return {PQ640_READ_FAILED, PQ640_SHORT_READ, PQ640_OK};
    return {PQ640_OK};
  }
  // Line settings during open are refused with -3; elsewhere they, queue
  // sizes, discards and writes are not examined: the exchange shows the rest.
  if (starts("SerialGetLineSettings") || starts("SerialSetLineSettings")) {
    return how == Injected::kFailure ? std::set<PQ640_ResultCode>{PQ640_OK, PQ640_PORT_REFUSED}
                                     : std::set<PQ640_ResultCode>{PQ640_OK};
  }
  return {PQ640_OK};
}

class FaultSweep : public LibraryTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool Serial() const { return GetParam(); }

  // The port open and the terminal's answer scripted; the log of calls empty.
  void Prepare(const Export& e) {
    fake::Reset();
    ResetPortState();
    ASSERT_EQ(PQ640_SetTerminalIPAddr(kTestAddress), PQ640_OK);
    g = Buffers{};
    if (Serial()) {
      OpenSerial();
      AnswerOverSerial(ResponseFrame(0, 0, e.answer));
    } else {
      OpenTcp();
      AnswerOverTcp(ResponseFrame(0, 0, e.answer)).attempts = {fake::ConnectOutcome::kConnected,
                                                               fake::ConnectOutcome::kConnected};
    }
    os().calls.clear();
  }

  // Nothing forgotten: the only socket or port still open is the library's own.
  void ExpectNothingLeaked(const std::string& where) {
    const int sockets = fake::OpenSockets();
    EXPECT_LE(sockets, 1) << where;
    if (sockets == 1) {
      EXPECT_FALSE(fake::LastSocket().closed) << where;
      EXPECT_EQ(Port().tcp_socket, fake::LastSocket().handle) << where;
    }
    const int ports = fake::OpenSerialPorts();
    EXPECT_LE(ports, 1) << where;
    if (ports == 1) {
      EXPECT_EQ(Port().serial_handle, fake::LastSerialPort().handle) << where;
    }
  }

  // The link still works: reopened when the failure or the export closed it.
  void ExpectLinkWorks(const std::string& where) {
    os().inject = {};
    // An answer the failed command never asked for is not the terminal's any more.
    os().serial.replies.clear();
    os().net.scripts.clear();
    if (Serial() && (Port().serial_handle == os::kInvalidSerialHandle || Port().serial_port == 0)) {
      ASSERT_EQ(PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 1, 2), PQ640_OK) << where;
      ASSERT_EQ(PQ640_OpenPort(), PQ640_OK) << where;
    }
    if (!Serial() && os().net.startups == 0) {
      ASSERT_EQ(PQ640_OpenPort(), PQ640_OK) << where;
    }
    if (Serial()) {
      AnswerOverSerial(ResponseFrame(0, 0));
    } else {
      AnswerOverTcp(ResponseFrame(0, 0));
    }
    EXPECT_EQ(PQ640_CheckLink(), PQ640_OK) << where;
  }
};

TEST_P(FaultSweep, EveryCallOfEveryExportFailsCleanly) {
  int runs = 0;
  for (const Export& e : Exports()) {
    Prepare(e);
    ASSERT_EQ(e.call(), PQ640_OK) << e.name << " without faults";
    const std::vector<std::string> calls = os().calls;
    for (std::size_t k = 0; k < calls.size(); ++k) {
      for (Injected how : {Injected::kFailure, Injected::kTimeout, Injected::kShort, Injected::kPeerClose}) {
        Prepare(e);
        os().inject = {k, how};
        const PQ640_ResultCode result = e.call();
        const std::string where = std::string(e.name) + ": call " + std::to_string(k) + " " + calls[k] +
                                  " fails as " + std::to_string(static_cast<int>(how));
        ASSERT_EQ(os().calls.size() > k ? os().calls[k] : std::string(), calls[k]) << where;
        const std::set<PQ640_ResultCode> allowed = CodesFor(calls[k], how);
        EXPECT_TRUE(allowed.count(result)) << where << " returned " << result;
        ExpectNothingLeaked(where);
        ExpectLinkWorks(where);
        ++runs;
        if (HasFailure()) return;
      }
    }
  }
  EXPECT_GT(runs, 200);
  RecordProperty("runs", runs);
}

INSTANTIATE_TEST_SUITE_P(Links, FaultSweep, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

}  // namespace
}  // namespace pq640::test
