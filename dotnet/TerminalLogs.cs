// The IO log and the administrator log: counts, bounded reads, adds and
// deletes by query. A read counts first and then reads with the capacity that
// count gives (see BoundedRead), under one lock.
using System;
using System.Collections.Generic;
using System.Linq;
using Pq640.Interop;

namespace Pq640
{
    public sealed partial class Terminal
    {
        /// <summary>Selector of UsersIoRecords that takes any in/out state.</summary>
        public const byte AnyInOutState = 0xFF;

        static PQ640_RecordQuery NativeQuery(Query query) => (query ?? Query.All()).ToNative();

        static PQ640_RecordQuery RequiredQuery(Query query)
        {
            if (query == null) throw new ArgumentNullException(nameof(query), "Query.All() deletes every record");
            return query.ToNative();
        }

        uint Counted(string operation, CountCall call)
        {
            uint count = 0;
            Call(operation, () => call(ref count));
            return count;
        }

        delegate int CountCall(ref uint count);

        // ---- IO log ---------------------------------------------------------------

        /// <summary>The number of IO records the query selects (default: all).</summary>
        public uint IoRecordCount(Query query = null)
        {
            var native = NativeQuery(query);
            return Counted("GetIORecordNum", (ref uint count) => NativeMethods.PQ640_GetIORecordNum(ref native, ref count));
        }

        /// <summary>The IO records the query selects (default: all), in the terminal's order.
        /// ProtocolException when a time stamp is no real date.</summary>
        public IReadOnlyList<IoRecord> IoRecords(Query query = null, IProgress<Progress> progress = null)
        {
            var native = NativeQuery(query);
            return ReadLog<PQ640_IORecord, IoRecord>("GetIORecord", () => IoRecordCount(query), progress,
                (uint capacity, ref uint count, byte[] buffer, PQ640_ProgressCallback callback) =>
                    NativeMethods.PQ640_GetIORecordBounded(ref native, capacity, ref count, buffer, callback),
                IoRecord.FromNative);
        }

        /// <summary>Adds one IO record.</summary>
        public void AddIoRecord(IoRecord record)
        {
            if (record == null) throw new ArgumentNullException(nameof(record));
            var native = record.ToNative();
            Call("AddIORecord", () => NativeMethods.PQ640_AddIORecord(ref native));
        }

        /// <summary>Deletes the IO records the query selects (Query.All() for every one).</summary>
        public void DeleteIoRecords(Query query)
        {
            var native = RequiredQuery(query);
            Call("DeleteIORecord", () => NativeMethods.PQ640_DeleteIORecord(ref native));
        }

        /// <summary>The number of IO records <see cref="UsersIoRecords"/> would read.</summary>
        public uint UsersIoRecordCount(IEnumerable<uint> ids, DateTime from, DateTime to, byte selector = AnyInOutState)
        {
            var list = UserIds(ids);
            var start = ClockValue.ToNative(from, nameof(from));
            var end = ClockValue.ToNative(to, nameof(to));
            return Counted("GetUsersIORecordNum", (ref uint count) =>
                NativeMethods.PQ640_GetUsersIORecordNum((uint)list.Length, list, selector, ref start, ref end, ref count));
        }

        /// <summary>The IO records of 1..1000 users from <paramref name="from"/> to
        /// <paramref name="to"/>. The terminal filters by <paramref name="selector"/>; in the
        /// simulator's layout 0xFF takes any in/out state and another value only that state.</summary>
        public IReadOnlyList<IoRecord> UsersIoRecords(IEnumerable<uint> ids, DateTime from, DateTime to,
                                                      byte selector = AnyInOutState, IProgress<Progress> progress = null)
        {
            var list = UserIds(ids);
            var start = ClockValue.ToNative(from, nameof(from));
            var end = ClockValue.ToNative(to, nameof(to));
            return ReadLog<PQ640_IORecord, IoRecord>("GetUsersIORecord", () => UsersIoRecordCount(list, from, to, selector),
                progress, (uint capacity, ref uint count, byte[] buffer, PQ640_ProgressCallback callback) =>
                    NativeMethods.PQ640_GetUsersIORecordBounded((uint)list.Length, list, selector, ref start, ref end,
                                                                capacity, ref count, buffer, callback),
                IoRecord.FromNative);
        }

        static uint[] UserIds(IEnumerable<uint> ids)
        {
            if (ids == null) throw new ArgumentNullException(nameof(ids));
            var list = ids.ToArray();
            if (list.Length < 1 || list.Length > NativeMethods.MaxBatch)
                throw new ArgumentOutOfRangeException(nameof(ids), list.Length, "give 1..1000 user IDs");
            return list;
        }

        // ---- Administrator log ----------------------------------------------------

        /// <summary>The number of administrator log records the query selects (default: all).</summary>
        public uint AdminRecordCount(Query query = null)
        {
            var native = NativeQuery(query);
            return Counted("GetAdminRecordNum", (ref uint count) => NativeMethods.PQ640_GetAdminRecordNum(ref native, ref count));
        }

        /// <summary>The administrator log records the query selects (default: all).</summary>
        public IReadOnlyList<AdminRecord> AdminRecords(Query query = null, IProgress<Progress> progress = null)
        {
            var native = NativeQuery(query);
            return ReadLog<PQ640_AdminRecord, AdminRecord>("GetAdminRecord", () => AdminRecordCount(query), progress,
                (uint capacity, ref uint count, byte[] buffer, PQ640_ProgressCallback callback) =>
                    NativeMethods.PQ640_GetAdminRecordBounded(ref native, capacity, ref count, buffer, callback),
                AdminRecord.FromNative);
        }

        /// <summary>Adds one administrator log record.</summary>
        public void AddAdminRecord(AdminRecord record)
        {
            if (record == null) throw new ArgumentNullException(nameof(record));
            var native = record.ToNative();
            Call("AddAdminRecord", () => NativeMethods.PQ640_AddAdminRecord(ref native));
        }

        /// <summary>Deletes the administrator log records the query selects.</summary>
        public void DeleteAdminRecords(Query query)
        {
            var native = RequiredQuery(query);
            Call("DeleteAdminRecord", () => NativeMethods.PQ640_DeleteAdminRecord(ref native));
        }

        /// <summary>Counts, then reads with a capacity from the count, under one lock.</summary>
        IReadOnlyList<TOut> ReadLog<TNative, TOut>(string operation, Func<uint> count, IProgress<Progress> progress,
                                                   BoundedCall<byte> read, Func<TNative, TOut> convert)
            where TNative : struct
        {
            lock (Sync)
            {
                var counted = count();
                RequireOpen(operation);
                var filled = BoundedRead.Read(operation, counted, ReadLimits.MaxLogRecords, Slots.SizeOf<TNative>(), read,
                                              progress);
                return BoundedRead.Convert(filled, convert);
            }
        }
    }
}
