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

int main(int argc, char** argv) {
  PQ640_ResultCode result;
  if (argc < 2) {
    fprintf(stderr, "usage: %s ADDRESS [TERMINAL_ID]\n", argv[0]);
    return 2;
  }
  result = PQ640_SetTerminalIPAddr(argv[1]);
  if (result != PQ640_OK) {
    fprintf(stderr, "invalid address %s: %d (%s)\n", argv[1], (int)result, PQ640_ResultText(result));
    return 2;
  }
  if (argc > 2) {
    result = PQ640_SetTerminalID((uint16_t)strtoul(argv[2], NULL, 10));
    if (result != PQ640_OK) {
      fprintf(stderr, "invalid terminal ID %s: %d (%s)\n", argv[2], (int)result,
              PQ640_ResultText(result));
      return 2;
    }
  }
  PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2);
  result = PQ640_OpenPort();
  if (result == PQ640_OK) result = PQ640_CheckLink();
  printf("CheckLink on %s: %d (%s)\n", argv[1], (int)result,
         result == PQ640_OK ? "the terminal answered" : PQ640_ResultText(result));
  PQ640_ClosePort();
  return result == PQ640_OK ? 0 : 1;
}
