/* A legacy Windows host: loads pq640.dll at run time, looks up every export
 * by its plain name and calls it through a __stdcall pointer of its own
 * declaration, against the simulator at a loopback address.
 *
 *   loadlibrary_host PATH-TO-pq640.dll
 *
 * with_simulator.sh gives the simulator's address and terminal ID in
 * PQ640_TEST_ADDRESS and PQ640_TEST_TERMINAL_ID. The header is used for the
 * record layouts only; nothing of the library is linked.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pq640/pq640.h>

typedef int32_t(__stdcall* Fn0)(void);
typedef int32_t(__stdcall* FnU8)(uint8_t);
typedef int32_t(__stdcall* FnU16)(uint16_t);
typedef int32_t(__stdcall* FnU32)(uint32_t);
typedef int32_t(__stdcall* FnText)(const char*);
typedef int32_t(__stdcall* FnPtr)(const void*);
typedef int32_t(__stdcall* FnOut)(void*);
typedef int32_t(__stdcall* FnPort)(uint16_t, uint16_t, uint32_t);
typedef void(__stdcall* Progress)(uint32_t, uint32_t);
typedef int32_t(__stdcall* FnList)(uint32_t*, void*, uint8_t, Progress);
typedef int32_t(__stdcall* FnBatch)(uint32_t, const void*, uint8_t*, Progress);
typedef int32_t(__stdcall* FnGetUsers)(uint32_t*, const uint32_t*, void*, Progress);
typedef int32_t(__stdcall* FnQueryRead)(const void*, uint32_t*, void*, Progress);
typedef int32_t(__stdcall* FnQueryNum)(const void*, uint32_t*);
typedef int32_t(__stdcall* FnUsersLog)(uint32_t, const uint32_t*, uint8_t, const void*, const void*,
                                       uint32_t*, void*, Progress);
typedef int32_t(__stdcall* FnUsersLogNum)(uint32_t, const uint32_t*, uint8_t, const void*,
                                          const void*, uint32_t*);

typedef int32_t(__stdcall* FnListBounded)(uint32_t, uint32_t*, void*, uint8_t, Progress);
typedef int32_t(__stdcall* FnQueryReadBounded)(const void*, uint32_t, uint32_t*, void*, Progress);
typedef int32_t(__stdcall* FnUsersLogBounded)(uint32_t, const uint32_t*, uint8_t, const void*, const void*,
                                              uint32_t, uint32_t*, void*, Progress);

typedef struct Api {
  FnPort SetPortAndCommState;
  FnU16 SetTerminalID;
  FnText SetTerminalIPAddr;
  Fn0 OpenPort, ClosePort, WakeUp, CheckLink;
  FnU32 UpdateCommState;
  FnU16 ChangeTerminalID;
  FnU8 SetTermCommMode, SetMatchingPerform;
  Fn0 DeleteAllDataRom;
  FnOut GetDateTime, GetSystemData;
  FnPtr SetDateTime, SetSystemData;
  FnPtr AddUserData, AddAdminData;
  FnU32 DeleteUserData, DeleteAdminData;
  Fn0 DeleteAllUserData, DeleteAllAdminData;
  FnOut GetUserData, GetAdminData;
  FnList GetAllUserData, GetAllAdminData;
  FnBatch AddUsersData, DeleteUsersData;
  FnGetUsers GetUsersData;
  FnQueryRead GetIORecord, GetAdminRecord;
  FnQueryNum GetIORecordNum, GetAdminRecordNum;
  FnPtr AddIORecord, AddAdminRecord, DeleteIORecord, DeleteAdminRecord;
  FnUsersLog GetUsersIORecord;
  FnUsersLogNum GetUsersIORecordNum;
  FnListBounded GetAllUserDataBounded, GetAllAdminDataBounded;
  FnQueryReadBounded GetIORecordBounded, GetAdminRecordBounded;
  FnUsersLogBounded GetUsersIORecordBounded;
} Api;

static int g_checks, g_failures;
static unsigned g_progress_calls;
static uint32_t g_progress_total;

static void Check(const char* what, long got, long want) {
  ++g_checks;
  if (got != want) {
    ++g_failures;
    printf("FAILED: %s gave %ld, expected %ld\n", what, got, want);
  }
}
#define CHECK(call, want) Check(#call " at line " PQ640_LINE_TEXT(__LINE__), (long)(call), (long)(want))
#define PQ640_LINE_TEXT(line) PQ640_STRINGIFY(line)
#define PQ640_STRINGIFY(text) #text

static void __stdcall OnProgress(uint32_t total, uint32_t index) {
  (void)index;
  ++g_progress_calls;
  g_progress_total = total;
}

/* Looks up all 44 exports; returns how many were missing. */
static int Resolve(HMODULE dll, Api* api) {
  int missing = 0;
#define RESOLVE(name)                                                  \
  do {                                                                 \
    FARPROC address = GetProcAddress(dll, "PQ640_" #name);             \
    if (address == NULL) {                                             \
      printf("FAILED: no export PQ640_" #name "\n");                   \
      ++missing;                                                       \
    }                                                                  \
    memcpy(&api->name, &address, sizeof address);                      \
  } while (0)
  RESOLVE(SetPortAndCommState); RESOLVE(SetTerminalID); RESOLVE(SetTerminalIPAddr);
  RESOLVE(OpenPort); RESOLVE(ClosePort); RESOLVE(WakeUp); RESOLVE(CheckLink);
  RESOLVE(UpdateCommState); RESOLVE(ChangeTerminalID); RESOLVE(SetTermCommMode);
  RESOLVE(SetMatchingPerform); RESOLVE(DeleteAllDataRom); RESOLVE(GetDateTime);
  RESOLVE(SetDateTime); RESOLVE(GetSystemData); RESOLVE(SetSystemData);
  RESOLVE(AddUserData); RESOLVE(DeleteUserData); RESOLVE(DeleteAllUserData); RESOLVE(GetUserData);
  RESOLVE(AddAdminData); RESOLVE(DeleteAdminData); RESOLVE(DeleteAllAdminData);
  RESOLVE(GetAdminData); RESOLVE(GetAllUserData); RESOLVE(AddUsersData); RESOLVE(DeleteUsersData);
  RESOLVE(GetUsersData); RESOLVE(GetAllAdminData); RESOLVE(GetIORecord); RESOLVE(GetIORecordNum);
  RESOLVE(AddIORecord); RESOLVE(DeleteIORecord); RESOLVE(GetUsersIORecord);
  RESOLVE(GetUsersIORecordNum); RESOLVE(GetAdminRecord); RESOLVE(GetAdminRecordNum);
  RESOLVE(AddAdminRecord); RESOLVE(DeleteAdminRecord);
  RESOLVE(GetAllUserDataBounded); RESOLVE(GetAllAdminDataBounded); RESOLVE(GetIORecordBounded);
  RESOLVE(GetAdminRecordBounded); RESOLVE(GetUsersIORecordBounded);
#undef RESOLVE
  /* Only the plain names: no decorated twin. */
  Check("GetProcAddress of a decorated name", GetProcAddress(dll, "PQ640_CheckLink@0") != NULL, 0);
  Check("GetProcAddress of a decorated name", GetProcAddress(dll, "_PQ640_CheckLink@0") != NULL, 0);
  return missing;
}

static void OpenTcp(const Api* api, const char* address, uint16_t id) {
  /* The address first: the library's default is never in force here. */
  CHECK(api->SetTerminalIPAddr(address), 0);
  CHECK(api->SetTerminalID(id), 0);
  CHECK(api->SetPortAndCommState(PQ640_LINK_TCP, 0, 2), 0);
  CHECK(api->OpenPort(), 0);
}

static void ControlAndSettings(const Api* api, uint16_t id) {
  PQ640_DateTime set = {26, 12, 8, 9, 30, 0}, read;
  PQ640_SystemData block, again;
  CHECK(api->WakeUp(), 0);
  CHECK(api->CheckLink(), 0);
  CHECK(api->SetTermCommMode(0), 0);
  CHECK(api->SetMatchingPerform(5), 0);
  CHECK(api->UpdateCommState(2), 0);
  CHECK(api->ChangeTerminalID(id), 0);
  CHECK(api->SetDateTime(&set), 0);
  memset(&read, 0, sizeof read);
  CHECK(api->GetDateTime(&read), 0);
  CHECK(read.year * 10000 + read.month * 100 + read.day, 261208);
  CHECK(api->GetSystemData(&block), 0);
  CHECK(api->SetSystemData(&block), 0);
  CHECK(api->GetSystemData(&again), 0);
  CHECK(memcmp(&block, &again, sizeof block), 0);
  CHECK(api->DeleteAllDataRom(), 0);
}

static void Enrolment(const Api* api) {
  static PQ640_UserData users[2], got[2];
  static PQ640_AdminData admin, admin_read;
  uint8_t results[2] = {0xEE, 0xEE};
  uint32_t ids[2] = {21, 22}, listed[2] = {0, 0}, count = 0;
  memset(users, 0, sizeof users);
  users[0].id = 21;
  users[0].template_count = 1;
  memset(users[0].templates[0], 0xA5, PQ640_TEMPLATE_SIZE);
  users[1].id = 22;
  users[1].code_length = 4;
  memcpy(users[1].code, "1234", 4);

  CHECK(api->AddUserData(&users[0]), 0);
  got[0].id = 21;
  CHECK(api->GetUserData(&got[0]), 0);
  CHECK(memcmp(got[0].templates[0], users[0].templates[0], PQ640_TEMPLATE_SIZE), 0);
  CHECK(api->DeleteUserData(21), 0);

  g_progress_calls = 0;
  CHECK(api->AddUsersData(2, users, results, OnProgress), 0);
  CHECK(results[0] | results[1], 0);
  CHECK(g_progress_calls, 4);
  g_progress_calls = 0;
  CHECK(api->GetAllUserData(&count, listed, PQ640_LIST_IDS, OnProgress), 0);
  CHECK(count, 2);
  CHECK(listed[0] + listed[1], 43);
  CHECK(g_progress_calls, 2);
  CHECK(g_progress_total, 2);
  /* Room for one: the count comes back, nothing is written or reported. */
  g_progress_calls = 0;
  listed[0] = listed[1] = 0;
  CHECK(api->GetAllUserDataBounded(1, &count, listed, PQ640_LIST_IDS, OnProgress), PQ640_BUFFER_TOO_SMALL);
  CHECK(count, 2);
  CHECK(listed[0], 0);
  CHECK(g_progress_calls, 0);
  CHECK(api->GetAllUserDataBounded(2, &count, got, PQ640_LIST_RECORDS, OnProgress), 0);
  CHECK(g_progress_calls, 2);
  CHECK(got[0].id + got[1].id, 43);
  count = 2;
  CHECK(api->GetUsersData(&count, ids, got, OnProgress), 0);
  CHECK(count, 2);
  CHECK(api->DeleteUsersData(2, ids, results, OnProgress), 0);
  CHECK(api->DeleteAllUserData(), 0);

  memset(&admin, 0, sizeof admin);
  admin.id = 5;
  admin.level = 1;
  CHECK(api->AddAdminData(&admin), 0);
  admin_read.id = 5;
  CHECK(api->GetAdminData(&admin_read), 0);
  CHECK(admin_read.level, 1);
  CHECK(api->GetAllAdminData(&count, NULL, PQ640_LIST_COUNT, NULL), 0);
  CHECK(count, 1);
  CHECK(api->GetAllAdminDataBounded(1, &count, &admin_read, PQ640_LIST_RECORDS, NULL), 0);
  CHECK(admin_read.id, 5);
  CHECK(api->GetAllAdminDataBounded(1, &count, &admin_read, 3, NULL), PQ640_OUT_OF_RANGE);
  CHECK(api->DeleteAdminData(5), 0);
  CHECK(api->DeleteAllAdminData(), 0);
}

static void EventLogs(const Api* api) {
  PQ640_IORecord punch, read[2];
  PQ640_AdminRecord entry, entry_read;
  PQ640_RecordQuery all;
  PQ640_DateTime from = {26, 11, 1, 0, 0, 0}, to = {26, 11, 30, 0, 0, 0};
  uint32_t user = 31, count = 0;
  memset(&all, 0, sizeof all);
  memset(&punch, 0, sizeof punch);
  punch.time.year = 26;
  punch.time.month = 11;
  punch.time.day = 2;
  memcpy(punch.data, &user, 4);

  CHECK(api->AddIORecord(&punch), 0);
  CHECK(api->GetIORecordNum(&all, &count), 0);
  CHECK(count, 1);
  g_progress_calls = 0;
  CHECK(api->GetIORecord(&all, &count, read, OnProgress), 0);
  CHECK(count, 1);
  CHECK(g_progress_calls, 2);
  CHECK(memcmp(&read[0], &punch, sizeof punch), 0);
  CHECK(api->GetUsersIORecordNum(1, &user, 0xFF, &from, &to, &count), 0);
  CHECK(count, 1);
  CHECK(api->GetUsersIORecord(1, &user, 0xFF, &from, &to, &count, read, OnProgress), 0);
  CHECK(count, 1);
  CHECK(api->GetIORecordBounded(&all, 0, &count, read, OnProgress), PQ640_BUFFER_TOO_SMALL);
  CHECK(count, 1);
  CHECK(api->GetIORecordBounded(&all, 2, &count, read, OnProgress), 0);
  CHECK(count, 1);
  CHECK(api->GetUsersIORecordBounded(1, &user, 0xFF, &from, &to, 1, &count, read, OnProgress), 0);
  CHECK(count, 1);
  CHECK(api->DeleteIORecord(&all), 0);
  CHECK(api->GetIORecordNum(&all, &count), 0);
  CHECK(count, 0);

  memset(&entry, 0x11, sizeof entry);
  memcpy(entry.bytes, &punch.time, 6);
  CHECK(api->AddAdminRecord(&entry), 0);
  CHECK(api->GetAdminRecordNum(&all, &count), 0);
  CHECK(count, 1);
  CHECK(api->GetAdminRecord(&all, &count, &entry_read, OnProgress), 0);
  CHECK(memcmp(&entry, &entry_read, sizeof entry), 0);
  CHECK(api->GetAdminRecordBounded(&all, 1, &count, &entry_read, OnProgress), 0);
  CHECK(count, 1);
  CHECK(api->DeleteAdminRecord(&all), 0);
}

int main(int argc, char** argv) {
  HMODULE dll;
  Api api;
  const char* address = getenv("PQ640_TEST_ADDRESS");
  const char* id_text = getenv("PQ640_TEST_TERMINAL_ID");
  uint16_t id;
  if (argc != 2 || address == NULL || strncmp(address, "127.", 4) != 0 || id_text == NULL) {
    fprintf(stderr, "usage: %s PATH-TO-pq640.dll, with a loopback PQ640_TEST_ADDRESS\n", argv[0]);
    return 2;
  }
  id = (uint16_t)atoi(id_text);
  /* Held for the whole run, as a host that uses sockets itself holds it: Wine
     cannot load WS2_32 again in a process that has unloaded it (its sockets
     then refuse FIONBIO), and without this the DLL's unloading takes WS2_32
     with it. */
  if (LoadLibraryA("ws2_32.dll") == NULL) return 1;
  dll = LoadLibraryA(argv[1]);
  if (dll == NULL) {
    printf("FAILED: LoadLibrary(%s), error %lu\n", argv[1], (unsigned long)GetLastError());
    return 1;
  }
  if (Resolve(dll, &api) != 0) return 1;

  OpenTcp(&api, address, id);
  ControlAndSettings(&api, id);
  Enrolment(&api);
  EventLogs(&api);
  CHECK(api.ClosePort(), 0);

  /* Unloading must close the connection of the last command: the simulator
     serves one connection at a time, so a connection left open would make
     the reloaded library's check wait in vain. */
  OpenTcp(&api, address, id);
  CHECK(api.CheckLink(), 0);
  CHECK(FreeLibrary(dll) != 0, 1);
  dll = LoadLibraryA(argv[1]);
  if (dll == NULL || Resolve(dll, &api) != 0) return 1;
  OpenTcp(&api, address, id);
  CHECK(api.CheckLink(), 0);
  CHECK(api.ClosePort(), 0);
  FreeLibrary(dll);

  printf("%d passed, %d failed\n", g_checks - g_failures, g_failures);
  return g_failures == 0 ? 0 : 1;
}
