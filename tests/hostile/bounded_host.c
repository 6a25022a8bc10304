/* A host program as a careful C host would write it: every array is sized
 * from the matching count call (malloc of exactly that many entries, so that
 * an address sanitizer sees any write past it), read with the bounded calls,
 * grown to the announced count on -105 within a ceiling of its own, at most
 * three times. Run against a terminal whose read answers announce more than
 * its count answers, it must end every read with a code, never with a write
 * out of bounds.
 *   bounded_host ADDRESS */
#include <stdio.h>
#include <stdlib.h>

#include "pq640/pq640.h"

#define CEILING 50000u /* entries this host will allocate for */
#define ATTEMPTS 3

typedef PQ640_ResultCode (*Count)(uint32_t* count);
typedef PQ640_ResultCode (*Read)(uint32_t capacity, uint32_t* count, void* entries);

static PQ640_RecordQuery g_all; /* the simulator's query kind 0: everything */
static const uint32_t g_ids[3] = {1, 2, 3};
static const PQ640_DateTime g_from = {0, 1, 1, 0, 0, 0}, g_to = {99, 12, 31, 23, 59, 59};

static PQ640_ResultCode CountUsers(uint32_t* n) { return PQ640_GetAllUserDataBounded(0, n, NULL, PQ640_LIST_COUNT, NULL); }
static PQ640_ResultCode CountAdmins(uint32_t* n) { return PQ640_GetAllAdminDataBounded(0, n, NULL, PQ640_LIST_COUNT, NULL); }
static PQ640_ResultCode CountIo(uint32_t* n) { return PQ640_GetIORecordNum(&g_all, n); }
static PQ640_ResultCode CountAdminLog(uint32_t* n) { return PQ640_GetAdminRecordNum(&g_all, n); }
static PQ640_ResultCode CountUsersIo(uint32_t* n) { return PQ640_GetUsersIORecordNum(3, g_ids, 0xFF, &g_from, &g_to, n); }

static PQ640_ResultCode UserIds(uint32_t c, uint32_t* n, void* e) { return PQ640_GetAllUserDataBounded(c, n, e, PQ640_LIST_IDS, NULL); }
static PQ640_ResultCode Users(uint32_t c, uint32_t* n, void* e) { return PQ640_GetAllUserDataBounded(c, n, e, PQ640_LIST_RECORDS, NULL); }
static PQ640_ResultCode AdminIds(uint32_t c, uint32_t* n, void* e) { return PQ640_GetAllAdminDataBounded(c, n, e, PQ640_LIST_IDS, NULL); }
static PQ640_ResultCode Admins(uint32_t c, uint32_t* n, void* e) { return PQ640_GetAllAdminDataBounded(c, n, e, PQ640_LIST_RECORDS, NULL); }
static PQ640_ResultCode IoLog(uint32_t c, uint32_t* n, void* e) { return PQ640_GetIORecordBounded(&g_all, c, n, e, NULL); }
static PQ640_ResultCode AdminLog(uint32_t c, uint32_t* n, void* e) { return PQ640_GetAdminRecordBounded(&g_all, c, n, e, NULL); }
static PQ640_ResultCode UsersIo(uint32_t c, uint32_t* n, void* e) {
  return PQ640_GetUsersIORecordBounded(3, g_ids, 0xFF, &g_from, &g_to, c, n, e, NULL);
}

/* Prints one line: "NAME: counted N, CODE with M entries" or the refusal. */
static int ReadSized(const char* name, Count count, Read read, size_t stride) {
  uint32_t capacity = 0;
  int attempt;
  PQ640_ResultCode r = count(&capacity);
  if (r != PQ640_OK) {
    printf("%s: count failed %d\n", name, (int)r);
    return 1;
  }
  printf("%s: counted %u", name, (unsigned)capacity);
  for (attempt = 0; attempt < ATTEMPTS; ++attempt) {
    uint32_t got = 0;
    /* One byte at least, so that an empty array is still a real allocation. */
    void* entries = malloc(capacity == 0 ? 1 : (size_t)capacity * stride);
    if (entries == NULL) return 1;
    r = read(capacity, &got, entries);
    free(entries);
    if (r != PQ640_BUFFER_TOO_SMALL) {
      printf(", %d with %u entries\n", (int)r, (unsigned)got);
      return 0;
    }
    printf(", -105 announcing %u", (unsigned)got);
    if (got > CEILING) {
      printf(", above the ceiling of %u: refused\n", CEILING);
      return 0;
    }
    capacity = got;
  }
  printf(", gave up\n");
  return 0;
}

int main(int argc, char** argv) {
  int failures = 0;
  if (argc != 2) return 2;
  if (PQ640_SetTerminalIPAddr(argv[1]) != PQ640_OK) return 2;
  if (PQ640_SetPortAndCommState(PQ640_LINK_TCP, 0, 2) != PQ640_OK || PQ640_OpenPort() != PQ640_OK) return 2;
  failures += ReadSized("user IDs", CountUsers, UserIds, sizeof(uint32_t));
  failures += ReadSized("users", CountUsers, Users, sizeof(PQ640_UserData));
  failures += ReadSized("administrator IDs", CountAdmins, AdminIds, sizeof(uint32_t));
  failures += ReadSized("administrators", CountAdmins, Admins, sizeof(PQ640_AdminData));
  failures += ReadSized("IO log", CountIo, IoLog, sizeof(PQ640_IORecord));
  failures += ReadSized("administrator log", CountAdminLog, AdminLog, sizeof(PQ640_AdminRecord));
  failures += ReadSized("users' IO log", CountUsersIo, UsersIo, sizeof(PQ640_IORecord));
  PQ640_ClosePort();
  return failures == 0 ? 0 : 1;
}
