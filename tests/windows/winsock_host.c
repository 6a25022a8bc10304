/* A host that uses Winsock itself, as most do (a database or a web service):
 * it starts Winsock, holds a connected socket pair of its own on 127.0.0.1
 * and loads pq640.dll at run time, then runs the library through every
 * open, close and unload order. After each step its own sockets must still
 * carry bytes both ways, and at the end its own WSACleanup must succeed: no
 * call order of the library may stop or reset the host's sockets.
 *
 *   winsock_host PATH-TO-pq640.dll
 *
 * with_simulator.sh gives the simulator's address and terminal ID in
 * PQ640_TEST_ADDRESS and PQ640_TEST_TERMINAL_ID.
 */
#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <pq640/pq640.h>

typedef int32_t(PQ640_CALL* Fn0)(void);
typedef int32_t(PQ640_CALL* FnU16)(uint16_t);
typedef int32_t(PQ640_CALL* FnText)(const char*);
typedef int32_t(PQ640_CALL* FnPort)(uint16_t, uint16_t, uint32_t);

/* Every wait on the host's own sockets is bounded by this. */
enum { kHostWaitMs = 3000 };

typedef struct Library {
  HMODULE module;
  FnPort SetPortAndCommState;
  FnU16 SetTerminalID;
  FnText SetTerminalIPAddr;
  Fn0 OpenPort, ClosePort, CheckLink;
} Library;

static int g_checks, g_failures;
static const char* g_dll;
static SOCKET g_pair[2] = {INVALID_SOCKET, INVALID_SOCKET};

static void Check(const char* what, int line, long got, long want) {
  ++g_checks;
  if (got != want) {
    ++g_failures;
    printf("FAILED at line %d: %s gave %ld, expected %ld\n", line, what, got, want);
  }
}
#define CHECK(call, want) Check(#call, __LINE__, (long)(call), (long)(want))

/* A connected pair on 127.0.0.1: a listener at a port the system picks, a
 * client connected to it, and the accepted end. */
static int MakePair(void) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  struct sockaddr_in address;
  int length = sizeof address;
  int ok = 0;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener == INVALID_SOCKET) return 0;
  if (bind(listener, (struct sockaddr*)&address, sizeof address) == 0 && listen(listener, 1) == 0 &&
      getsockname(listener, (struct sockaddr*)&address, &length) == 0) {
    g_pair[0] = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (g_pair[0] != INVALID_SOCKET &&
        connect(g_pair[0], (struct sockaddr*)&address, sizeof address) == 0) {
      g_pair[1] = accept(listener, NULL, NULL);
      ok = g_pair[1] != INVALID_SOCKET;
    }
  }
  closesocket(listener);
  return ok;
}

/* One byte from `from` to `to`, waited for at most kHostWaitMs. */
static int Carries(SOCKET from, SOCKET to, char byte) {
  fd_set readable;
  struct timeval wait = {kHostWaitMs / 1000, 0};
  char got = 0;
  if (send(from, &byte, 1, 0) != 1) {
    printf("  host send failed: WSA error %d\n", WSAGetLastError());
    return 0;
  }
  FD_ZERO(&readable);
  FD_SET(to, &readable);
  if (select(0, &readable, NULL, NULL, &wait) != 1) {
    printf("  host wait failed or ran out: WSA error %d\n", WSAGetLastError());
    return 0;
  }
  if (recv(to, &got, 1, 0) != 1 || got != byte) {
    printf("  host recv failed: WSA error %d\n", WSAGetLastError());
    return 0;
  }
  return 1;
}

/* The host's own connection still works, both ways. */
static void HostSocketsWork(const char* after, int line) {
  static char next = 'a';
  const int ok = Carries(g_pair[0], g_pair[1], next) && Carries(g_pair[1], g_pair[0], (char)(next + 1));
  next = (char)(next == 'y' ? 'a' : next + 2);
  ++g_checks;
  if (!ok) {
    ++g_failures;
    printf("FAILED at line %d: the host's sockets broke after %s\n", line, after);
  }
}
#define HOST_SOCKETS_WORK(after) HostSocketsWork(after, __LINE__)

/* Looks `name` up into the function pointer at `slot` (copied, as the
 * pointer types differ from FARPROC's). */
static void Export(HMODULE module, const char* name, void* slot) {
  FARPROC function = GetProcAddress(module, name);
  if (function == NULL) {
    printf("FAILED: %s is not exported\n", name);
    exit(1);
  }
  memcpy(slot, &function, sizeof function);
}

/* Loads the DLL and selects the simulator over TCP; nothing is opened. */
static Library Load(void) {
  Library library;
  const char* address = getenv("PQ640_TEST_ADDRESS");
  const char* id = getenv("PQ640_TEST_TERMINAL_ID");
  library.module = LoadLibraryA(g_dll);
  if (library.module == NULL) {
    printf("FAILED: LoadLibrary(%s): error %lu\n", g_dll, (unsigned long)GetLastError());
    exit(1);
  }
  Export(library.module, "PQ640_SetPortAndCommState", &library.SetPortAndCommState);
  Export(library.module, "PQ640_SetTerminalID", &library.SetTerminalID);
  Export(library.module, "PQ640_SetTerminalIPAddr", &library.SetTerminalIPAddr);
  Export(library.module, "PQ640_OpenPort", &library.OpenPort);
  Export(library.module, "PQ640_ClosePort", &library.ClosePort);
  Export(library.module, "PQ640_CheckLink", &library.CheckLink);
  /* A loopback address first, always: the default address is never used. */
  CHECK(library.SetTerminalIPAddr(address), PQ640_OK);
  CHECK(library.SetTerminalID((uint16_t)atoi(id)), PQ640_OK);
  CHECK(library.SetPortAndCommState(PQ640_LINK_TCP, 0, 2), PQ640_OK);
  return library;
}

static void Unload(Library* library, const char* what) {
  CHECK(FreeLibrary(library->module) != 0, 1);
  HOST_SOCKETS_WORK(what);
}

int main(int argc, char** argv) {
  WSADATA data;
  Library library;
  const char* address = getenv("PQ640_TEST_ADDRESS");
  if (argc != 2 || address == NULL || getenv("PQ640_TEST_TERMINAL_ID") == NULL) {
    printf("usage: PQ640_TEST_ADDRESS=127.x.y.z PQ640_TEST_TERMINAL_ID=N %s PATH-TO-pq640.dll\n", argv[0]);
    return 2;
  }
  if (strncmp(address, "127.", 4) != 0) {
    printf("not a loopback address: %s\n", address);
    return 2;
  }
  g_dll = argv[1];
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0 || !MakePair()) {
    printf("FAILED: the host could not start Winsock or make its own connection\n");
    return 1;
  }
  HOST_SOCKETS_WORK("making them");

  /* Closing what was never opened; a command with no start-up of the
   * library's own, although the host has started Winsock. */
  library = Load();
  CHECK(library.CheckLink(), PQ640_SOCKET_FAILED);
  CHECK(library.ClosePort(), PQ640_OK);
  HOST_SOCKETS_WORK("ClosePort without OpenPort");
  CHECK(library.ClosePort(), PQ640_OK);
  HOST_SOCKETS_WORK("a second ClosePort");
  CHECK(library.CheckLink(), PQ640_SOCKET_FAILED);
  Unload(&library, "FreeLibrary of a library never opened");

  /* The ordinary order, then an extra close and the unload. */
  library = Load();
  CHECK(library.OpenPort(), PQ640_OK);
  CHECK(library.CheckLink(), PQ640_OK);
  CHECK(library.ClosePort(), PQ640_OK);
  HOST_SOCKETS_WORK("OpenPort, CheckLink, ClosePort");
  CHECK(library.CheckLink(), PQ640_SOCKET_FAILED);
  CHECK(library.ClosePort(), PQ640_OK);
  HOST_SOCKETS_WORK("a ClosePort after the balancing one");
  Unload(&library, "ClosePort then FreeLibrary");

  /* Unloaded with the port open and a connection standing. */
  library = Load();
  CHECK(library.OpenPort(), PQ640_OK);
  CHECK(library.CheckLink(), PQ640_OK);
  HOST_SOCKETS_WORK("a command");
  Unload(&library, "FreeLibrary with the port open");

  /* Loaded again: a fresh library, which has started nothing of its own. */
  library = Load();
  CHECK(library.CheckLink(), PQ640_SOCKET_FAILED);
  CHECK(library.OpenPort(), PQ640_OK);
  CHECK(library.OpenPort(), PQ640_OK);
  CHECK(library.CheckLink(), PQ640_OK);
  CHECK(library.ClosePort(), PQ640_OK);
  CHECK(library.CheckLink(), PQ640_OK); /* one start-up of its own is left */
  CHECK(library.ClosePort(), PQ640_OK);
  CHECK(library.CheckLink(), PQ640_SOCKET_FAILED);
  HOST_SOCKETS_WORK("two opens balanced by two closes");
  Unload(&library, "LoadLibrary again after FreeLibrary");

  closesocket(g_pair[0]);
  closesocket(g_pair[1]);
  CHECK(WSACleanup(), 0);
  printf("%d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
