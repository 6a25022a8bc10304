/* Wakes the terminal behind COM10 twice, as a host would before its first
 * command: quiet_period.py reads the line and times the pause between the
 * first wake-up's last zero byte and the second one's first.
 *
 *   wake_up_host    (the line is on COM10)
 */
#include <stdio.h>

#include <pq640/pq640.h>

int main(void) {
  int32_t result = PQ640_SetPortAndCommState(PQ640_LINK_SERIAL, 10, 2);
  if (result == PQ640_OK) result = PQ640_OpenPort();
  if (result != PQ640_OK) {
    printf("FAILED: opening COM10 gave %d\n", (int)result);
    return 1;
  }
  const int32_t first = PQ640_WakeUp();
  const int32_t second = PQ640_WakeUp();
  const int32_t closed = PQ640_ClosePort();
  printf("WakeUp gave %d and %d, ClosePort %d\n", (int)first, (int)second, (int)closed);
  return first == PQ640_OK && second == PQ640_OK && closed == PQ640_OK ? 0 : 1;
}
