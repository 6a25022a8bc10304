// Commands whose answer is a bare header: the result byte and the trailer.
#include <array>

#include "fuzz_harness.h"

using namespace pq640::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (!SplitInput(data, size, &input)) return 0;
  PrepareTerminal(input);
  static const PQ640_DateTime kClock{26, 12, 8, 9, 30, 0};
  static PQ640_UserData user{};
  static PQ640_AdminData admin{};
  static const PQ640_IORecord io{};
  static const PQ640_AdminRecord admin_record{};
  static const PQ640_RecordQuery query{};
  user.template_count = static_cast<std::uint8_t>(input.parameter % 3);
  admin.template_count = static_cast<std::uint8_t>(input.parameter % 3);
  PQ640_ResultCode result = 0;
  switch (input.selector % 14) {
    case 0: result = PQ640_CheckLink(); break;
    case 1: result = PQ640_UpdateCommState(input.parameter % 5); break;
    case 2: result = PQ640_ChangeTerminalID(0); break;
    case 3: result = PQ640_SetTermCommMode(input.parameter % 3); break;
    case 4: result = PQ640_SetMatchingPerform(input.parameter); break;
    case 5: result = PQ640_DeleteAllDataRom(); break;
    case 6: result = PQ640_SetDateTime(&kClock); break;
    case 7: result = PQ640_AddUserData(&user); break;
    case 8: result = PQ640_DeleteUserData(input.parameter); break;
    case 9: result = PQ640_AddAdminData(&admin); break;
    case 10: result = PQ640_DeleteAllUserData(); break;
    case 11: result = PQ640_AddIORecord(&io); break;
    case 12: result = PQ640_DeleteIORecord(&query); break;
    default: result = PQ640_AddAdminRecord(&admin_record); break;
  }
  CheckOutcome(input, result);
  return 0;
}
