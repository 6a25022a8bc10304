/*
 * pq640 — client library for the PQ640 enrolment and attendance terminal.
 *
 * The library holds one connection state for the whole process. The host
 * selects the link with the setters, opens the port, runs commands and closes
 * the port. Every function returns a PQ640_ResultCode: 0 for success, 1 to 255
 * for a result byte returned by the terminal, negative values for failures the
 * library met itself. Calls are not thread-safe: the host serialises them.
 *
 * Pointer rules: every pointer argument must point to caller memory of the
 * size the function gives. A null pointer gives -104 (PQ640_INVALID_ARGUMENT)
 * before any other check and before anything is sent, and leaves every output
 * untouched. Two exceptions: a null PQ640_ProgressCallback is simply not
 * called, and the buffer of PQ640_GetAllUserData / PQ640_GetAllAdminData may
 * be null in a listing mode that reads no entries (any mode but
 * PQ640_LIST_IDS and PQ640_LIST_RECORDS).
 *
 * Time: every command ends within a bound. Once the request has gone out,
 * the answer may take the command's read wait (its read time-out plus one
 * second) plus the time its bytes would take at a floor rate: 1 KiB/s over
 * TCP, an eighth of the line's byte rate on a serial line (120 bytes/s at
 * 9600 baud). The search for the answer's start byte gets the read wait
 * alone. An answer slower than that ends the call with -100 (on TCP, a
 * terminal that sent nothing at all gives -12 after the read wait, as
 * before). Time spent in the host's progress callback is not counted.
 *
 * Compiles as C (C99 and later) and as C++.
 */
#ifndef PQ640_PQ640_H
#define PQ640_PQ640_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define PQ640_CALL_ __stdcall
#  if defined(PQ640_BUILDING)
#    define PQ640_API __declspec(dllexport)
#  elif defined(PQ640_STATIC)
#    define PQ640_API
#  else
#    define PQ640_API __declspec(dllimport)
#  endif
#else
#  define PQ640_CALL_
#  if defined(__GNUC__)
#    define PQ640_API __attribute__((visibility("default")))
#  else
#    define PQ640_API
#  endif
#endif

/* Calling convention: __stdcall on 32-bit Windows, the platform default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#  define PQ640_CALL PQ640_CALL_
#else
#  define PQ640_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------- */

typedef int32_t PQ640_ResultCode;

enum {
  PQ640_OK = 0,
  /* A read ended with fewer bytes than asked for (serial time-out after some
     bytes had arrived). A terminal may also return this value itself. */
  PQ640_SHORT_READ = 242,
  /* An argument is out of range: terminal ID above 255, communication mode
     above 2, a settings block or record rejected before writing, a batch
     size outside 1..1000. */
  PQ640_OUT_OF_RANGE = 243,
  PQ640_OPEN_FAILED = -1,          /* the serial port could not be opened */
  PQ640_CLOSE_FAILED = -2,         /* nothing to close, or closing failed */
  PQ640_PORT_REFUSED = -3,         /* serial settings/time-outs refused, serial port not
                                      open, or PQ640_SetPortAndCommState got a bad argument */
  PQ640_NO_SERIAL_PORT = -4,       /* serial transfer without a serial port number */
  PQ640_SOCKET_FAILED = -10,       /* creating a TCP socket failed (socket layer not started) */
  PQ640_TCP_FAILED = -12,          /* socket layer start-up or version, socket mode change,
                                      or a TCP read that waited in vain */
  PQ640_NO_SOCKET = -13,           /* TCP transfer without a connection */
  PQ640_SEND_FAILED = -14,         /* a TCP send failed or was short */
  PQ640_READ_FAILED = -100,        /* a read failed or returned nothing, the connection was
                                      closed, or connecting over TCP failed */
  PQ640_WRONG_TERMINAL = -101,     /* the response came from another terminal ID */
  PQ640_BAD_CHECKSUM = -102,       /* the response checksum did not match */
  PQ640_INVALID_ARGUMENT = -104,   /* invalid address, line settings or date, or the
                                      terminal sent data out of range */
  PQ640_BUFFER_TOO_SMALL = -105    /* a bounded read: the terminal announced more entries
                                      than the caller's capacity; *count holds its count */
};

/* ---- Link selection ----------------------------------------------------- */

enum {
  PQ640_LINK_SERIAL = 0,
  PQ640_LINK_TCP = 1
};

/* TCP port of the terminal; fixed. */
#define PQ640_TCP_PORT 7413

/* Terminal address used until PQ640_SetTerminalIPAddr is called: a fixed
   private-network address. Set the real address before opening a TCP link. */
#define PQ640_DEFAULT_TERMINAL_ADDRESS "192.168.1.201"

/* ---- Records in caller memory (byte-packed, fixed layout) ---------------- */

#define PQ640_TEMPLATE_SIZE 480
#define PQ640_MAX_TEMPLATES 2
#define PQ640_MAX_CODE_LENGTH 10
#define PQ640_RECORD_SLOT_SIZE 988
#define PQ640_SYSTEM_DATA_SIZE 256
#define PQ640_MAX_BATCH 1000

#pragma pack(push, 1)

/* Terminal clock. Year within the century (0..99 = 2000..2099), month 1..12,
   day 1..days of the month, hour 0..23, minute and second 0..59. Binary values. */
typedef struct PQ640_DateTime {
  uint8_t year;
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
} PQ640_DateTime;

/* The terminal's 256-byte settings block, read and written whole. Numbers in it
   are little-endian. */
typedef struct PQ640_SystemData {
  uint8_t bytes[PQ640_SYSTEM_DATA_SIZE];
} PQ640_SystemData;

/* One enrolled user in a 988-byte slot; arrays of users use that stride. */
typedef struct PQ640_UserData {
  uint32_t id;
  uint8_t template_count;                                  /* 0..2 */
  uint8_t templates[PQ640_MAX_TEMPLATES][PQ640_TEMPLATE_SIZE];
  uint8_t code_length;                                     /* 0, or 4..10 */
  uint8_t code[PQ640_MAX_CODE_LENGTH];
  uint8_t info[10];
  uint8_t reserved[2];
} PQ640_UserData;

/* One enrolled administrator in a 988-byte slot. */
typedef struct PQ640_AdminData {
  uint32_t id;
  uint8_t level;                                           /* 0..2 as read from the terminal */
  uint8_t template_count;                                  /* 0..2 */
  uint8_t templates[PQ640_MAX_TEMPLATES][PQ640_TEMPLATE_SIZE];
  uint8_t code_length;                                     /* 0, or 4..10 */
  uint8_t code[PQ640_MAX_CODE_LENGTH];
  uint8_t info[9];
  uint8_t reserved[2];
} PQ640_AdminData;

/* An IO log record: a time stamp and ten bytes the terminal defines. */
typedef struct PQ640_IORecord {
  PQ640_DateTime time;
  uint8_t data[10];
} PQ640_IORecord;

/* An administrator log record; its layout is the terminal's. */
typedef struct PQ640_AdminRecord {
  uint8_t bytes[16];
} PQ640_AdminRecord;

/* A log query, interpreted by the terminal and passed through unchanged. */
typedef struct PQ640_RecordQuery {
  uint8_t bytes[18];
} PQ640_RecordQuery;

#pragma pack(pop)

/* Compile-time layout checks that work in C99 as well as in C++. */
#define PQ640_LAYOUT_CHECK(name, condition) \
  typedef char pq640_layout_check_##name[(condition) ? 1 : -1]
PQ640_LAYOUT_CHECK(datetime_size, sizeof(PQ640_DateTime) == 6);
PQ640_LAYOUT_CHECK(system_data_size, sizeof(PQ640_SystemData) == 256);
PQ640_LAYOUT_CHECK(user_size, sizeof(PQ640_UserData) == 988);
PQ640_LAYOUT_CHECK(user_template_count, offsetof(PQ640_UserData, template_count) == 4);
PQ640_LAYOUT_CHECK(user_templates, offsetof(PQ640_UserData, templates) == 5);
PQ640_LAYOUT_CHECK(user_code_length, offsetof(PQ640_UserData, code_length) == 965);
PQ640_LAYOUT_CHECK(user_code, offsetof(PQ640_UserData, code) == 966);
PQ640_LAYOUT_CHECK(user_info, offsetof(PQ640_UserData, info) == 976);
PQ640_LAYOUT_CHECK(user_reserved, offsetof(PQ640_UserData, reserved) == 986);
PQ640_LAYOUT_CHECK(admin_size, sizeof(PQ640_AdminData) == 988);
PQ640_LAYOUT_CHECK(admin_level, offsetof(PQ640_AdminData, level) == 4);
PQ640_LAYOUT_CHECK(admin_template_count, offsetof(PQ640_AdminData, template_count) == 5);
PQ640_LAYOUT_CHECK(admin_templates, offsetof(PQ640_AdminData, templates) == 6);
PQ640_LAYOUT_CHECK(admin_code_length, offsetof(PQ640_AdminData, code_length) == 966);
PQ640_LAYOUT_CHECK(admin_code, offsetof(PQ640_AdminData, code) == 967);
PQ640_LAYOUT_CHECK(admin_info, offsetof(PQ640_AdminData, info) == 977);
PQ640_LAYOUT_CHECK(admin_reserved, offsetof(PQ640_AdminData, reserved) == 986);
PQ640_LAYOUT_CHECK(io_record_size, sizeof(PQ640_IORecord) == 16);
PQ640_LAYOUT_CHECK(io_record_data, offsetof(PQ640_IORecord, data) == 6);
PQ640_LAYOUT_CHECK(admin_record_size, sizeof(PQ640_AdminRecord) == 16);
PQ640_LAYOUT_CHECK(record_query_size, sizeof(PQ640_RecordQuery) == 18);
#undef PQ640_LAYOUT_CHECK

/* Progress of a bulk or log transfer: called with (total, index) on the
   caller's thread while the transaction runs. May be null. */
typedef void(PQ640_CALL* PQ640_ProgressCallback)(uint32_t total, uint32_t index);

/* ---- Port settings ------------------------------------------------------ */

/* Selects the link. kind PQ640_LINK_SERIAL: port 1..10 and a line-setting word
   with baud code 0..6 (bits 0-3), field b 0..4 (bits 4-6), field c 0..2
   (bits 7-8); kind PQ640_LINK_TCP: port ignored, word stored unchecked.
   Returns -3 and changes nothing otherwise. Opens nothing. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetPortAndCommState(uint16_t kind, uint16_t port,
                                                               uint32_t comm_state);
/* The terminal ID used in requests (0..255; 243 above). Sends nothing. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetTerminalID(uint16_t id);
/* IPv4 address of the terminal: exactly four decimal fields of one to three
   digits, each 0..255, joined by single dots, nothing before or after.
   Leading zeros are decimal ("192.168.001.010" is 192.168.1.10). -104, and
   the previous address kept, for anything else: null, short forms ("127.1"),
   hex or octal forms, white space, 0.0.0.0 and 255.255.255.255. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetTerminalIPAddr(const char* address);

/* ---- Port lifecycle ----------------------------------------------------- */

/* Serial: opens "COM<port>" exclusively with fixed line settings (Linux maps
   COMn to /dev/COMn when it exists, else /dev/ttyS<n-1>). TCP: starts the
   socket layer; every command then connects afresh. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_OpenPort(void);
/* Serial: closes the port (-2 when none is open) and forgets the port number.
   TCP: closes the current connection and balances the library's own start-up
   of the socket layer (never one the host made); always 0. Call it before
   unloading the library: on unload the library only closes its own handles
   (on Windows that runs under the loader lock, where stopping the socket
   layer is unsafe), so an open TCP port leaves its start-up unbalanced. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_ClosePort(void);
/* Serial: wakes a sleeping terminal (about 5 s); TCP: returns at once. Always 0. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_WakeUp(void);

/* ---- Link check --------------------------------------------------------- */

/* A bare transaction: 0 when the terminal answers. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_CheckLink(void);

/* ---- Terminal control --------------------------------------------------- */

/* New line-setting word for the terminal (baud code 0..4, field b 0..4, field c
   0..1; -104 otherwise). After the terminal accepts it the local port follows. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_UpdateCommState(uint32_t comm_state);
/* Gives the terminal a new ID (0..255; 243 above); later requests use it. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_ChangeTerminalID(uint16_t new_id);
/* Communication mode 0..2 (243 above). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetTermCommMode(uint8_t mode);
/* The terminal's matching-performance setting, passed through unchanged. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetMatchingPerform(uint8_t value);
/* Erases everything the terminal stores. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteAllDataRom(void);

/* ---- Clock -------------------------------------------------------------- */

/* Reads the terminal's clock; -104 when the terminal reports an invalid one
   (the buffer then holds what it sent). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetDateTime(PQ640_DateTime* date_time);
/* Sets the terminal's clock; -104 for an invalid value, without sending. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetDateTime(const PQ640_DateTime* date_time);

/* ---- Settings block ----------------------------------------------------- */

/* Reads the 256-byte block; -104 when it breaks the range rules (the buffer
   then holds what was read). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetSystemData(PQ640_SystemData* block);
/* Writes the block; 243 when it breaks the range rules, without sending. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_SetSystemData(const PQ640_SystemData* block);

/* ---- Enrolment records ---------------------------------------------------
 *
 * Records live in caller memory in 988-byte slots (PQ640_UserData,
 * PQ640_AdminData); on the wire only the templates and code bytes in use are
 * sent. Arrays of records have a stride of 988 bytes, arrays of IDs 4 bytes,
 * arrays of per-record result bytes 1 byte. The caller sizes every array: the
 * library writes as many entries as the terminal reports (see each function
 * for the bound that applies).
 *
 * A record received with a template count above 2, a code length other than
 * 0 or 4..10, or (administrators) a level above 2 ends the call with -104; the
 * slot then holds the bad value, and template and code bytes beyond the counts
 * in use keep what the slot held before.
 */

/* Listing modes of PQ640_GetAllUserData and PQ640_GetAllAdminData. With any
   other value only the count is reported (the callback still runs once per
   entry, and nothing is written to the buffer). */
enum {
  PQ640_LIST_COUNT = 0,   /* count only; buffer untouched, no callback */
  PQ640_LIST_IDS = 1,     /* buffer is a uint32_t array, one ID per entry */
  PQ640_LIST_RECORDS = 2  /* buffer is a PQ640_UserData / PQ640_AdminData array */
};

/* Enrols one user, replacing a user with the same ID. 243 without sending
   when template_count is above 2 or code_length is not 0 or 4..10. On a serial
   link that is not open the call returns -3 before the record is looked at. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_AddUserData(const PQ640_UserData* record);
/* Deletes one user; the terminal's result byte for an unknown ID is returned. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteUserData(uint32_t id);
/* Deletes every user on the terminal. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteAllUserData(void);
/* Reads the user whose ID the caller put in record->id; the whole slot is
   then filled from the terminal's answer (record->id included). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetUserData(PQ640_UserData* record);

/* Enrols one administrator (level is sent unchecked); same checks and codes
   as PQ640_AddUserData. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_AddAdminData(const PQ640_AdminData* record);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteAdminData(uint32_t id);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteAllAdminData(void);
/* Reads the administrator whose ID the caller put in record->id. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAdminData(PQ640_AdminData* record);

/* Lists every user. mode: PQ640_LIST_*. *count is set to 0 once the request
   has been sent, then to the terminal's count n as soon as it arrives; buffer
   receives n entries (IDs or records) and must have room for them — ask with
   PQ640_LIST_COUNT first. callback(n, i) runs before entry i. buffer may be
   null with PQ640_LIST_COUNT. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAllUserData(uint32_t* count, void* buffer,
                                                          uint8_t mode,
                                                          PQ640_ProgressCallback callback);
/* Lists every administrator, as PQ640_GetAllUserData, except that *count is
   written only once, after the last entry has arrived and the answer's
   checksum matched (a failure leaves it unchanged). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAllAdminData(uint32_t* count, void* buffer,
                                                           uint8_t mode,
                                                           PQ640_ProgressCallback callback);

/* ---- Bounded reads: prefer these ------------------------------------------
 *
 * A terminal's count can grow between a Num (or PQ640_LIST_COUNT) call and
 * the read that follows (a punch arrives), and a faulty terminal can announce
 * any count. The reads above write as many entries as the terminal announces;
 * the Bounded forms below take `capacity`, the number of entries the caller's
 * array holds, and never write more. While the terminal's count fits they
 * behave exactly like their originals (same bytes on the wire, callbacks,
 * *count and codes). When it announces more entries than `capacity` (in a
 * listing mode that stores entries): nothing is written to the array, no
 * callback runs, *count is set to the announced count (size the array to it
 * and ask again), the rest of the answer is not read (TCP: the connection is
 * dropped; serial: the input is discarded) and the call returns -105
 * (PQ640_BUFFER_TOO_SMALL). Pointer rules as for the originals.
 */

/* PQ640_GetAllUserData with a capacity; buffer holds `capacity` entries of the
   mode's kind. A mode other than PQ640_LIST_COUNT, _IDS or _RECORDS gives 243
   before sending. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAllUserDataBounded(uint32_t capacity,
                                                                 uint32_t* count, void* buffer,
                                                                 uint8_t mode,
                                                                 PQ640_ProgressCallback callback);
/* PQ640_GetAllAdminData with a capacity; as PQ640_GetAllUserDataBounded. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAllAdminDataBounded(uint32_t capacity,
                                                                  uint32_t* count, void* buffer,
                                                                  uint8_t mode,
                                                                  PQ640_ProgressCallback callback);

/* Enrols n users (1..PQ640_MAX_BATCH; 243 otherwise) in one transaction.
   Every record is checked first: 243 without sending when any template_count
   is above 2 or any code_length above 10 (the terminal judges the rest and
   answers one result byte per record, copied unchanged into results[0..n-1]).
   callback(n, i) runs before record i is sent and again before its result
   byte is read: 2n calls, the index running from 0 twice. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_AddUsersData(uint32_t n, const PQ640_UserData* records,
                                                        uint8_t* results,
                                                        PQ640_ProgressCallback callback);
/* Deletes the n users in ids (1..PQ640_MAX_BATCH; 243 otherwise); one result
   byte per ID goes to results. callback(n, i) runs after result byte i. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteUsersData(uint32_t n, const uint32_t* ids,
                                                           uint8_t* results,
                                                           PQ640_ProgressCallback callback);
/* Reads the users whose IDs are given. In: *count is the number of IDs
   (1..PQ640_MAX_BATCH; 243 otherwise). Out: *count is the number of records
   the terminal sent (it leaves out IDs it does not know), written to
   records[0..*count-1]; callback(m, i) runs before record i. records needs
   room for as many records as IDs asked for: a terminal that reports more
   gives -104 before anything is written, *count unchanged. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetUsersData(uint32_t* count, const uint32_t* ids,
                                                        PQ640_UserData* records,
                                                        PQ640_ProgressCallback callback);

/* ---- Event logs ------------------------------------------------------------
 *
 * Queries, IO record bytes 6..15, administrator log records and the selector
 * are defined by the terminal and passed through unchanged. Log records are 16
 * bytes; arrays of them have a stride of 16. Each Get writes as many records
 * as the terminal sends: size the array with the matching Num call. When a
 * call fails before the record count has arrived, *count keeps its value.
 */

/* Reads the IO records the query selects. *count becomes 0 when the count n
   arrives and grows by one for every record stored; callback(n, i) runs before
   record i and callback(n, n) once after the last. A record whose time stamp
   is not a valid date and time ends the call with -104: *count then holds the
   valid records before it, and the invalid one stays in the array after them. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetIORecord(const PQ640_RecordQuery* query,
                                                       uint32_t* count, PQ640_IORecord* records,
                                                       PQ640_ProgressCallback callback);
/* The number of IO records the query selects. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetIORecordNum(const PQ640_RecordQuery* query,
                                                          uint32_t* count);
/* Adds one IO record (its time stamp is not checked before sending). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_AddIORecord(const PQ640_IORecord* record);
/* Deletes the IO records the query selects. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteIORecord(const PQ640_RecordQuery* query);

/* Reads the IO records of n users (1..PQ640_MAX_BATCH; 243 otherwise) between
   from and to (sent unchecked), filtered by selector. count, records and
   callback as for PQ640_GetIORecord. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetUsersIORecord(
    uint32_t n, const uint32_t* ids, uint8_t selector, const PQ640_DateTime* from,
    const PQ640_DateTime* to, uint32_t* count, PQ640_IORecord* records,
    PQ640_ProgressCallback callback);
/* The number of records PQ640_GetUsersIORecord would read. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetUsersIORecordNum(uint32_t n, const uint32_t* ids,
                                                               uint8_t selector,
                                                               const PQ640_DateTime* from,
                                                               const PQ640_DateTime* to,
                                                               uint32_t* count);

/* Reads the administrator log records the query selects, unchecked.
   callback(n, i) before record i, callback(n, n) after the last; *count is
   written only once all n records have arrived and the answer's checksum
   matched (a failure leaves it unchanged). */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAdminRecord(const PQ640_RecordQuery* query,
                                                          uint32_t* count,
                                                          PQ640_AdminRecord* records,
                                                          PQ640_ProgressCallback callback);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAdminRecordNum(const PQ640_RecordQuery* query,
                                                             uint32_t* count);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_AddAdminRecord(const PQ640_AdminRecord* record);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_DeleteAdminRecord(const PQ640_RecordQuery* query);

/* Bounded reads of the logs (see "Bounded reads" above): `capacity` is the
   number of 16-byte records the array holds. Prefer these to the originals. */
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetIORecordBounded(const PQ640_RecordQuery* query,
                                                              uint32_t capacity, uint32_t* count,
                                                              PQ640_IORecord* records,
                                                              PQ640_ProgressCallback callback);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetAdminRecordBounded(const PQ640_RecordQuery* query,
                                                                 uint32_t capacity,
                                                                 uint32_t* count,
                                                                 PQ640_AdminRecord* records,
                                                                 PQ640_ProgressCallback callback);
PQ640_API PQ640_ResultCode PQ640_CALL PQ640_GetUsersIORecordBounded(
    uint32_t n, const uint32_t* ids, uint8_t selector, const PQ640_DateTime* from,
    const PQ640_DateTime* to, uint32_t capacity, uint32_t* count, PQ640_IORecord* records,
    PQ640_ProgressCallback callback);

/* ---- Header-only helpers --------------------------------------------------
 *
 * Not exported: these compile into the host, so a host can explain a result
 * code and check a clock value or a settings block before it sends anything.
 * The library applies the very same checks.
 */

/* The meaning of a result code in words, for messages. */
static inline const char* PQ640_ResultText(PQ640_ResultCode code) {
  switch (code) {
    case PQ640_OK: return "success";
    case PQ640_SHORT_READ:
      return "the answer was cut short (a serial read timed out part-way), or the terminal's "
             "result byte 242";
    case PQ640_OUT_OF_RANGE:
      return "an argument is out of range (terminal ID, communication mode, settings block, "
             "record field or batch size), or the terminal's result byte 243";
    case PQ640_OPEN_FAILED: return "the serial port could not be opened";
    case PQ640_CLOSE_FAILED: return "there was nothing to close, or closing failed";
    case PQ640_PORT_REFUSED:
      return "the serial port refused its settings or is not open, or the link settings are "
             "invalid";
    case PQ640_NO_SERIAL_PORT: return "no serial port number is set";
    case PQ640_SOCKET_FAILED: return "no TCP socket could be created";
    case PQ640_TCP_FAILED:
      return "the terminal did not answer in time, or the socket layer failed";
    case PQ640_NO_SOCKET: return "there is no TCP connection";
    case PQ640_SEND_FAILED: return "sending to the terminal failed";
    case PQ640_READ_FAILED:
      return "connecting failed, the connection was closed, or nothing could be read";
    case PQ640_WRONG_TERMINAL: return "a terminal with another ID answered";
    case PQ640_BAD_CHECKSUM: return "the answer's checksum did not match";
    case PQ640_INVALID_ARGUMENT:
      return "an invalid argument (address, line settings or date), or the terminal sent a "
             "value out of range";
    case PQ640_BUFFER_TOO_SMALL:
      return "the terminal announced more entries than the array holds; the count says how "
             "many (records may have arrived since the count was read)";
    default: break;
  }
  if (code > 0 && code <= 255) return "the terminal's own result byte: it refused or failed";
  return "an unknown result code";
}

/* 1 when the date exists: year within the century 0..99 (2000..2099),
   month 1..12, day 1..days of the month (29 February in leap years). */
static inline int PQ640_IsValidDate(int year, int month, int day) {
  int days = 31;
  if (year < 0 || year > 99 || month < 1 || month > 12 || day < 1) return 0;
  if (month == 4 || month == 6 || month == 9 || month == 11) {
    days = 30;
  } else if (month == 2) {
    /* 2000 + year is divisible by 400 only for year 0; 2100 is out of range. */
    days = (year % 4 == 0) ? 29 : 28;
  }
  return day <= days;
}

/* 1 when the clock value is a real date and time: hour 0..23, minute and
   second 0..59, and PQ640_IsValidDate. */
static inline int PQ640_IsValidDateTime(const PQ640_DateTime* date_time) {
  return date_time->hour <= 23 && date_time->minute <= 59 && date_time->second <= 59 &&
         PQ640_IsValidDate(date_time->year, date_time->month, date_time->day);
}

/* One range rule of the settings block: the little-endian unsigned field of
   `width` bytes at `offset` lies in low..high, where high is the constant
   `high` when limit_offset is PQ640_NO_LIMIT_FIELD, and otherwise the value of
   the 4-byte field at limit_offset (the first field of its group). */
#define PQ640_NO_LIMIT_FIELD 0xFF
typedef struct PQ640_SystemDataRule {
  uint8_t offset;
  uint8_t width;
  uint8_t limit_offset;
  uint32_t low;
  uint32_t high;
} PQ640_SystemDataRule;

#define PQ640_SYSTEM_DATA_RULE_COUNT 14

/* The rules, in the order they are checked. */
static inline const PQ640_SystemDataRule* PQ640_SystemDataRules(void) {
  static const PQ640_SystemDataRule rules[PQ640_SYSTEM_DATA_RULE_COUNT] = {
      {0, 1, PQ640_NO_LIMIT_FIELD, 0, 30},     {1, 1, PQ640_NO_LIMIT_FIELD, 0, 1},
      {2, 1, PQ640_NO_LIMIT_FIELD, 0, 2},      {4, 2, PQ640_NO_LIMIT_FIELD, 0, 99},
      {32, 4, PQ640_NO_LIMIT_FIELD, 1, 10},    {36, 4, 32, 0, 0},
      {68, 4, 32, 0, 0},                       {40, 4, PQ640_NO_LIMIT_FIELD, 0, 1000},
      {44, 4, 40, 0, 0},                       {64, 4, PQ640_NO_LIMIT_FIELD, 0, 1000},
      {48, 4, PQ640_NO_LIMIT_FIELD, 0, 1000},  {52, 4, 48, 0, 0},
      {56, 4, PQ640_NO_LIMIT_FIELD, 0, 50000}, {60, 4, 56, 0, 0}};
  return rules;
}

/* The little-endian unsigned field of `width` (1..4) bytes at `offset`. */
static inline uint32_t PQ640_SystemDataField(const PQ640_SystemData* block, unsigned offset,
                                             unsigned width) {
  uint32_t value = 0;
  unsigned i;
  for (i = 0; i < width; ++i) value |= (uint32_t)block->bytes[offset + i] << (8u * i);
  return value;
}

/* The upper limit a rule sets for this block. */
static inline uint32_t PQ640_SystemDataRuleHigh(const PQ640_SystemData* block,
                                                const PQ640_SystemDataRule* rule) {
  if (rule->limit_offset == PQ640_NO_LIMIT_FIELD) return rule->high;
  return PQ640_SystemDataField(block, rule->limit_offset, 4);
}

/* The first rule the block breaks, or NULL when it keeps them all. The
   library refuses to write such a block (243) and reports one it has read
   with -104. */
static inline const PQ640_SystemDataRule* PQ640_BrokenSystemDataRule(
    const PQ640_SystemData* block) {
  const PQ640_SystemDataRule* rules = PQ640_SystemDataRules();
  int i;
  for (i = 0; i < PQ640_SYSTEM_DATA_RULE_COUNT; ++i) {
    const uint32_t value = PQ640_SystemDataField(block, rules[i].offset, rules[i].width);
    if (value < rules[i].low || value > PQ640_SystemDataRuleHigh(block, &rules[i])) {
      return &rules[i];
    }
  }
  return NULL;
}

#ifdef __cplusplus
}
#endif

#endif /* PQ640_PQ640_H */
