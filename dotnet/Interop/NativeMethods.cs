// Every export of include/pq640/pq640.h, declared with its exact integer
// types and calling convention (__stdcall on 32-bit Windows; the platform's
// only convention elsewhere). The library is loaded as "pq640": pq640.dll on
// Windows, libpq640.so elsewhere. These are the raw calls: the header's
// pointer rules apply and nothing is checked here. Pq640.Terminal is the safe
// way in.
//
// Arrays of records are byte arrays with the header's stride (988 bytes a
// user or administrator slot, 16 a log record; Slots converts them to and
// from the structs): a byte array is pinned and passed as it is, whereas an
// array of structs with fixed-size fields is copied by the marshaller, on
// Mono onto the stack, which a few thousand 988-byte slots overflow.
using System;
using System.Runtime.InteropServices;

namespace Pq640.Interop
{
    public static class NativeMethods
    {
        public const string Library = "pq640";

        public const int TemplateSize = 480;
        public const int MaxTemplates = 2;
        public const int MaxCodeLength = 10;
        public const int RecordSlotSize = 988;
        public const int SystemDataSize = 256;
        public const int LogRecordSize = 16;
        public const int QuerySize = 18;
        public const int MaxBatch = 1000;
        public const ushort TcpPort = 7413;

        public const ushort LinkSerial = 0;
        public const ushort LinkTcp = 1;

        public const byte ListCount = 0;
        public const byte ListIds = 1;
        public const byte ListRecords = 2;

        const CallingConvention Call = CallingConvention.StdCall;

        // ---- Port settings and lifecycle ------------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetPortAndCommState(ushort kind, ushort port, uint commState);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetTerminalID(ushort id);

        // ASCII only: best-fit mapping would turn look-alike characters into digits.
        [DllImport(Library, CallingConvention = Call, ExactSpelling = true, CharSet = CharSet.Ansi,
                   BestFitMapping = false, ThrowOnUnmappableChar = true)]
        public static extern int PQ640_SetTerminalIPAddr([MarshalAs(UnmanagedType.LPStr)] string address);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_OpenPort();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_ClosePort();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_WakeUp();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_CheckLink();

        // ---- Terminal control, clock, settings ------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_UpdateCommState(uint commState);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_ChangeTerminalID(ushort newId);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetTermCommMode(byte mode);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetMatchingPerform(byte value);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteAllDataRom();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetDateTime(out PQ640_DateTime dateTime);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetDateTime([In] ref PQ640_DateTime dateTime);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetSystemData(ref PQ640_SystemData block);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_SetSystemData([In] ref PQ640_SystemData block);

        // ---- Single enrolment records -----------------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_AddUserData([In] ref PQ640_UserData record);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteUserData(uint id);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteAllUserData();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetUserData(ref PQ640_UserData record);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_AddAdminData([In] ref PQ640_AdminData record);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteAdminData(uint id);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteAllAdminData();

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAdminData(ref PQ640_AdminData record);

        // ---- Listings: the buffer is IDs (mode 1) or records (mode 2) ---------
        // The unbounded originals write as many entries as the terminal
        // announces; prefer the Bounded forms, which take the array's capacity.

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllUserData(ref uint count, IntPtr buffer, byte mode,
                                                      PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllAdminData(ref uint count, IntPtr buffer, byte mode,
                                                       PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllUserDataBounded(uint capacity, ref uint count, [In, Out] uint[] ids,
                                                             byte mode, PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllUserDataBounded(uint capacity, ref uint count,
                                                             [In, Out] byte[] records, byte mode,
                                                             PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllAdminDataBounded(uint capacity, ref uint count, [In, Out] uint[] ids,
                                                              byte mode, PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAllAdminDataBounded(uint capacity, ref uint count,
                                                              [In, Out] byte[] records, byte mode,
                                                              PQ640_ProgressCallback callback);

        // ---- Batches of users -------------------------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_AddUsersData(uint n, [In] byte[] records, [Out] byte[] results,
                                                    PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteUsersData(uint n, [In] uint[] ids, [Out] byte[] results,
                                                       PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetUsersData(ref uint count, [In] uint[] ids,
                                                    [In, Out] byte[] records,
                                                    PQ640_ProgressCallback callback);

        // ---- IO log -----------------------------------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetIORecord([In] ref PQ640_RecordQuery query, ref uint count,
                                                   [In, Out] byte[] records,
                                                   PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetIORecordBounded([In] ref PQ640_RecordQuery query, uint capacity,
                                                          ref uint count, [In, Out] byte[] records,
                                                          PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetIORecordNum([In] ref PQ640_RecordQuery query, ref uint count);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_AddIORecord([In] ref PQ640_IORecord record);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteIORecord([In] ref PQ640_RecordQuery query);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetUsersIORecord(uint n, [In] uint[] ids, byte selector,
                                                        [In] ref PQ640_DateTime from, [In] ref PQ640_DateTime to,
                                                        ref uint count, [In, Out] byte[] records,
                                                        PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetUsersIORecordBounded(uint n, [In] uint[] ids, byte selector,
                                                               [In] ref PQ640_DateTime from,
                                                               [In] ref PQ640_DateTime to, uint capacity,
                                                               ref uint count, [In, Out] byte[] records,
                                                               PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetUsersIORecordNum(uint n, [In] uint[] ids, byte selector,
                                                           [In] ref PQ640_DateTime from,
                                                           [In] ref PQ640_DateTime to, ref uint count);

        // ---- Administrator log ------------------------------------------------

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAdminRecord([In] ref PQ640_RecordQuery query, ref uint count,
                                                      [In, Out] byte[] records,
                                                      PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAdminRecordBounded([In] ref PQ640_RecordQuery query, uint capacity,
                                                             ref uint count, [In, Out] byte[] records,
                                                             PQ640_ProgressCallback callback);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_GetAdminRecordNum([In] ref PQ640_RecordQuery query, ref uint count);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_AddAdminRecord([In] ref PQ640_AdminRecord record);

        [DllImport(Library, CallingConvention = Call, ExactSpelling = true)]
        public static extern int PQ640_DeleteAdminRecord([In] ref PQ640_RecordQuery query);
    }
}
