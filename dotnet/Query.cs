// The 18-byte log query. The terminal interprets it; the factories build it in
// the layout the simulator documents: kind (1), from (6), to (6), user ID (4,
// little-endian), reserved (1). A terminal that defines it differently takes
// the raw bytes: new Query(raw).
using System;
using Pq640.Interop;

namespace Pq640
{
    public sealed class Query
    {
        public const int Size = NativeMethods.QuerySize;
        public const byte KindAll = 0;
        public const byte KindTimeRange = 1;
        public const byte KindOneUser = 2;
        public const byte KindOneUserInTimeRange = 3;

        readonly byte[] raw;

        public Query(byte[] raw)
        {
            if (raw == null) throw new ArgumentNullException(nameof(raw));
            if (raw.Length != Size) throw new ArgumentException("a query is 18 bytes, got " + raw.Length, nameof(raw));
            this.raw = (byte[])raw.Clone();
        }

        /// <summary>Every record.</summary>
        public static Query All() => Build(KindAll, null, null, 0);

        /// <summary>Records from <paramref name="from"/> to <paramref name="to"/>, both included.</summary>
        public static Query Between(DateTime from, DateTime to) => Build(KindTimeRange, from, to, 0);

        /// <summary>Records of one user (the administrator, in the administrator log),
        /// optionally from <paramref name="from"/> to <paramref name="to"/> (give both or neither).</summary>
        public static Query User(uint id, DateTime? from = null, DateTime? to = null)
        {
            if (from.HasValue != to.HasValue) throw new ArgumentException("give both from and to, or neither");
            return Build(from.HasValue ? KindOneUserInTimeRange : KindOneUser, from, to, id);
        }

        static Query Build(byte kind, DateTime? from, DateTime? to, uint id)
        {
            var bytes = new byte[Size];
            bytes[0] = kind;
            if (from.HasValue)
            {
                Array.Copy(ClockValue.ToBytes(from.Value, "from"), 0, bytes, 1, 6);
                Array.Copy(ClockValue.ToBytes(to.Value, "to"), 0, bytes, 7, 6);
            }
            LittleEndian.Put(bytes, 13, id);
            return new Query(bytes);
        }

        public byte Kind => raw[0];
        public byte[] Raw => (byte[])raw.Clone();

        public PQ640_RecordQuery ToNative() => new PQ640_RecordQuery { Bytes = Raw };

        public override string ToString() => "Query " + RecordText.Hex(raw);
    }
}
