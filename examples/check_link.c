/* A host program in C: selects the TCP link, opens the port, checks that the
 * terminal answers, and closes the port.
 *
 *   check_link ADDRESS [TERMINAL_ID]
 *
 * ADDRESS must be given: the library's default terminal address is never used.
 */
#include <stdio.h>
#include <stdlib.h>

#include <pq640/pq640.h>

static const char* Meaning(PQ640_ResultCode code) {
  switch (code) {
    case PQ640_OK: return "the terminal answered";
    case PQ640_SHORT_READ: return "the response was cut short";
    case PQ640_OUT_OF_RANGE: return "an argument is out of range";
    case PQ640_SOCKET_FAILED: return "no socket could be created";
    case PQ640_TCP_FAILED: return "the socket layer failed or the terminal did not answer in time";
    case PQ640_SEND_FAILED: return "sending failed";
    case PQ640_READ_FAILED: return "no connection, or reading failed";
    case PQ640_WRONG_TERMINAL: return "another terminal answered";
    case PQ640_BAD_CHECKSUM: return "the response checksum did not match";
    case PQ640_INVALID_ARGUMENT: return "invalid argument";
    default: return code > 0 ? "the terminal reported a failure" : "link failure";
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s ADDRESS [TERMINAL_ID]\n", argv[0]);
    return 2;
  }
  PQ640_ResultCode result = PQ640_SetTerminalIPAddr(argv[1]);
  if (result != PQ640_OK) {
    fprintf(stderr, "invalid address %s: %d (%s)\n", argv[1], (int)result, Meaning(result));
    return 2;
  }
  if (argc > 2) {
    result = PQ640_SetTerminalID((uint16_t)strtoul(argv[2], NULL, 10));
    if (result != PQ640_OK) {
      fprintf(stderr, "invalid terminal ID %s: %d (%s)\n", argv[2], (int)result, Meaning(result));
      return 2;
    }
  }
  PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2);
  result = PQ640_OpenPort();
  if (result == PQ640_OK) result = PQ640_CheckLink();
  printf("CheckLink on %s: %d (%s)\n", argv[1], (int)result, Meaning(result));
  PQ640_ClosePort();
  return result == PQ640_OK ? 0 : 1;
}
