// The user table (terminal.Users) and the administrator table
// (terminal.Admins). Lists of any length are sent in batches of at most 1000,
// the terminal's limit. The library has batch commands for users only; for
// administrators one command is sent per record.
using System;
using System.Collections.Generic;
using System.Linq;
using Pq640.Interop;

namespace Pq640
{
    public abstract class Enrolments<T> where T : EnrolmentRecord
    {
        internal readonly Terminal Terminal;

        internal Enrolments(Terminal terminal)
        {
            Terminal = terminal;
        }

        internal abstract string Noun { get; }
        internal abstract int List(uint capacity, ref uint count, uint[] ids, byte mode, PQ640_ProgressCallback callback);
        internal abstract IReadOnlyList<T> ReadAll(uint counted, IProgress<Progress> progress);
        internal abstract int GetOne(uint id, out T record);
        internal abstract int AddOne(T record);
        internal abstract int DeleteOne(uint id);
        internal abstract int DeleteEvery();

        /// <summary>The number of records held.</summary>
        public uint Count()
        {
            uint count = 0;
            Terminal.Call("GetAll" + Noun + "Data", () => List(0, ref count, null, NativeMethods.ListCount, null));
            return count;
        }

        /// <summary>The IDs held, in the terminal's order (ascending on the simulator).</summary>
        public IReadOnlyList<uint> Ids()
        {
            lock (Terminal.SyncRoot)
            {
                var counted = Count();
                Terminal.RequireOpen("GetAll" + Noun + "Data");
                return BoundedRead.Read<uint>("GetAll" + Noun + "Data", counted, ReadLimits.MaxEnrolments, 1,
                    (uint capacity, ref uint count, uint[] buffer, PQ640_ProgressCallback callback) =>
                        List(capacity, ref count, buffer, NativeMethods.ListIds, callback), null);
            }
        }

        /// <summary>Every record, templates and codes included. <paramref name="progress"/>
        /// hears (total, index) before each record and (total, total) at the end.</summary>
        public IReadOnlyList<T> All(IProgress<Progress> progress = null)
        {
            lock (Terminal.SyncRoot)
            {
                var counted = Count();
                Terminal.RequireOpen("GetAll" + Noun + "Data");
                return ReadAll(counted, progress);
            }
        }

        /// <summary>The record with this ID. TerminalException when the terminal does not
        /// hold it (result byte 7 on the simulator).</summary>
        public T Get(uint id)
        {
            T record = null;
            Terminal.Call("Get" + Noun + "Data", () => GetOne(id, out record));
            return record;
        }

        /// <summary>The records of these IDs the terminal holds, in the order asked;
        /// unknown IDs are left out.</summary>
        public virtual IReadOnlyList<T> GetMany(IEnumerable<uint> ids)
        {
            var list = CheckIds(ids);
            var found = new List<T>();
            lock (Terminal.SyncRoot)
            {
                foreach (var id in list)
                {
                    T record = null;
                    var code = CallForResult("Get" + Noun + "Data", () => GetOne(id, out record));
                    if (code == 0) found.Add(record);
                }
            }
            return found;
        }

        /// <summary>Enrols one record, replacing one with the same ID.</summary>
        public void Add(T record)
        {
            if (record == null) throw new ArgumentNullException(nameof(record));
            Terminal.Call("Add" + Noun + "Data", () => AddOne(record));
        }

        /// <summary>Enrols many records and returns the terminal's result byte for each, in
        /// order (0 enrolled; otherwise its refusal, e.g. 8 table full on the simulator).
        /// A failure of the transfer itself throws.</summary>
        public virtual byte[] AddMany(IEnumerable<T> records, IProgress<Progress> progress = null)
        {
            var list = CheckRecords(records);
            var results = new byte[list.Count];
            lock (Terminal.SyncRoot)
            {
                for (var i = 0; i < list.Count; ++i)
                {
                    progress?.Report(new Progress((uint)list.Count, (uint)i));
                    var record = list[i];
                    results[i] = (byte)CallForResult("Add" + Noun + "Data", () => AddOne(record));
                }
                progress?.Report(new Progress((uint)list.Count, (uint)list.Count));
            }
            return results;
        }

        /// <summary>Deletes one record. TerminalException when the terminal does not hold it.</summary>
        public void Delete(uint id) => Terminal.Call("Delete" + Noun + "Data", () => DeleteOne(id));

        /// <summary>Deletes many records and returns the terminal's result byte for each ID
        /// (0 deleted; 7 not held, on the simulator).</summary>
        public virtual byte[] DeleteMany(IEnumerable<uint> ids)
        {
            var list = CheckIds(ids);
            var results = new byte[list.Length];
            lock (Terminal.SyncRoot)
            {
                for (var i = 0; i < list.Length; ++i)
                {
                    var id = list[i];
                    results[i] = (byte)CallForResult("Delete" + Noun + "Data", () => DeleteOne(id));
                }
            }
            return results;
        }

        /// <summary>Deletes every record of this table.</summary>
        public void Clear() => Terminal.Call("DeleteAll" + Noun + "Data", DeleteEvery);

        /// <summary>The terminal's result byte of one command (0, or its refusal); any
        /// other failure throws.</summary>
        internal int CallForResult(string operation, Func<int> call)
        {
            try
            {
                Terminal.Call(operation, call);
                return 0;
            }
            catch (TerminalException refused)
            {
                return refused.Code;
            }
        }

        internal static uint[] CheckIds(IEnumerable<uint> ids)
        {
            if (ids == null) throw new ArgumentNullException(nameof(ids));
            return ids.ToArray();
        }

        internal static List<T> CheckRecords(IEnumerable<T> records)
        {
            if (records == null) throw new ArgumentNullException(nameof(records));
            var list = records.ToList();
            if (list.Any(r => r == null)) throw new ArgumentNullException(nameof(records), "a record is null");
            return list;
        }

        internal static IEnumerable<ArraySegment<TItem>> Batches<TItem>(TItem[] items)
        {
            for (var start = 0; start < items.Length; start += NativeMethods.MaxBatch)
                yield return new ArraySegment<TItem>(items, start, Math.Min(NativeMethods.MaxBatch, items.Length - start));
        }
    }
}
