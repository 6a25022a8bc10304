// The two tables' native calls. Users have batch commands (1000 records or IDs
// a transaction); administrators are added, read and deleted one by one.
using System;
using System.Collections.Generic;
using System.Linq;
using Pq640.Interop;

namespace Pq640
{
    internal sealed class UserTable : Enrolments<User>
    {
        internal UserTable(Terminal terminal) : base(terminal) { }

        internal override string Noun => "User";

        internal override int List(uint capacity, ref uint count, uint[] ids, byte mode, PQ640_ProgressCallback callback)
            => NativeMethods.PQ640_GetAllUserDataBounded(capacity, ref count, ids, mode, callback);

        internal override IReadOnlyList<User> ReadAll(uint counted, IProgress<Progress> progress)
        {
            var slots = BoundedRead.Read<byte>("GetAllUserData", counted, ReadLimits.MaxEnrolments,
                                               NativeMethods.RecordSlotSize,
                (uint capacity, ref uint count, byte[] buffer, PQ640_ProgressCallback callback) =>
                    NativeMethods.PQ640_GetAllUserDataBounded(capacity, ref count, buffer, NativeMethods.ListRecords,
                                                              callback), progress);
            return BoundedRead.Convert<PQ640_UserData, User>(slots, User.FromNative);
        }

        internal override int GetOne(uint id, out User record)
        {
            var slot = new PQ640_UserData { Id = id };
            var code = NativeMethods.PQ640_GetUserData(ref slot);
            record = code == 0 ? User.FromNative(slot) : null;
            return code;
        }

        internal override int AddOne(User record)
        {
            var slot = record.ToNative();
            return NativeMethods.PQ640_AddUserData(ref slot);
        }

        internal override int DeleteOne(uint id) => NativeMethods.PQ640_DeleteUserData(id);
        internal override int DeleteEvery() => NativeMethods.PQ640_DeleteAllUserData();

        public override IReadOnlyList<User> GetMany(IEnumerable<uint> ids)
        {
            var list = CheckIds(ids);
            var found = new List<User>();
            lock (Terminal.SyncRoot)
            {
                foreach (var batch in Batches(list))
                {
                    var asked = batch.ToArray();
                    var slots = new byte[asked.Length * NativeMethods.RecordSlotSize];
                    var count = (uint)asked.Length;
                    Terminal.Call("GetUsersData", () => NativeMethods.PQ640_GetUsersData(ref count, asked, slots, null));
                    if (count > asked.Length)
                        throw new ProtocolException(ResultCodes.InvalidArgument, "GetUsersData",
                                                    count + " records for " + asked.Length + " IDs");
                    found.AddRange(Slots.Decode<PQ640_UserData>(slots, (int)count).Select(User.FromNative));
                }
            }
            return found;
        }

        /// <summary>The library calls back twice per record: before sending it, then before
        /// reading its result byte. Only the second pass is reported, across batches.</summary>
        public override byte[] AddMany(IEnumerable<User> records, IProgress<Progress> progress = null)
        {
            var slots = CheckRecords(records).Select(r => r.ToNative()).ToArray();
            var total = (uint)slots.Length;
            var results = new List<byte>(slots.Length);
            lock (Terminal.SyncRoot)
            {
                Terminal.RequireOpen("AddUsersData");
                foreach (var batch in Batches(slots))
                {
                    var count = batch.Count;
                    var sending = Slots.Encode(batch.ToArray());
                    var batchResults = new byte[count];
                    var start = (uint)batch.Offset;
                    var calls = 0;
                    var callback = new NativeProgress(progress, (n, index) =>
                        ++calls > count ? new Progress(total, start + index) : (Progress?)null);
                    try
                    {
                        Terminal.Call("AddUsersData", () =>
                            NativeMethods.PQ640_AddUsersData((uint)count, sending, batchResults, callback.Callback));
                    }
                    finally
                    {
                        callback.Returned();
                    }
                    results.AddRange(batchResults);
                }
                progress?.Report(new Progress(total, total));
            }
            return results.ToArray();
        }

        public override byte[] DeleteMany(IEnumerable<uint> ids)
        {
            var list = CheckIds(ids);
            var results = new List<byte>(list.Length);
            lock (Terminal.SyncRoot)
            {
                foreach (var batch in Batches(list))
                {
                    var asked = batch.ToArray();
                    var batchResults = new byte[asked.Length];
                    Terminal.Call("DeleteUsersData", () =>
                        NativeMethods.PQ640_DeleteUsersData((uint)asked.Length, asked, batchResults, null));
                    results.AddRange(batchResults);
                }
            }
            return results.ToArray();
        }
    }

    internal sealed class AdminTable : Enrolments<Admin>
    {
        internal AdminTable(Terminal terminal) : base(terminal) { }

        internal override string Noun => "Admin";

        internal override int List(uint capacity, ref uint count, uint[] ids, byte mode, PQ640_ProgressCallback callback)
            => NativeMethods.PQ640_GetAllAdminDataBounded(capacity, ref count, ids, mode, callback);

        internal override IReadOnlyList<Admin> ReadAll(uint counted, IProgress<Progress> progress)
        {
            var slots = BoundedRead.Read<byte>("GetAllAdminData", counted, ReadLimits.MaxEnrolments,
                                               NativeMethods.RecordSlotSize,
                (uint capacity, ref uint count, byte[] buffer, PQ640_ProgressCallback callback) =>
                    NativeMethods.PQ640_GetAllAdminDataBounded(capacity, ref count, buffer, NativeMethods.ListRecords,
                                                               callback), progress);
            return BoundedRead.Convert<PQ640_AdminData, Admin>(slots, Admin.FromNative);
        }

        internal override int GetOne(uint id, out Admin record)
        {
            var slot = new PQ640_AdminData { Id = id };
            var code = NativeMethods.PQ640_GetAdminData(ref slot);
            record = code == 0 ? Admin.FromNative(slot) : null;
            return code;
        }

        internal override int AddOne(Admin record)
        {
            var slot = record.ToNative();
            return NativeMethods.PQ640_AddAdminData(ref slot);
        }

        internal override int DeleteOne(uint id) => NativeMethods.PQ640_DeleteAdminData(id);
        internal override int DeleteEvery() => NativeMethods.PQ640_DeleteAllAdminData();
    }
}
