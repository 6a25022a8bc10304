// The two logs' 16-byte records as immutable values. The ten bytes after an
// IO record's time stamp and the whole administrator log record are the
// terminal's; the properties decode them in the layout the simulator
// documents (integers little-endian), with the record vocabulary's field
// names (docs/records.md), and ToCsv prints the vocabulary's CSV line.
using System;
using System.Globalization;
using System.Linq;
using Pq640.Interop;

namespace Pq640
{
    /// <summary>An IO log record: a time stamp and ten bytes the terminal defines
    /// (user_id 4, verification 1, in_out_state 1, work_code 4).</summary>
    public sealed class IoRecord : IEquatable<IoRecord>
    {
        public const int DataSize = 10;
        public const string CsvHeader = "time,user_id,verification,in_out_state,work_code";

        readonly byte[] data;

        /// <summary>The time stamp, to the second (2000..2099).</summary>
        public DateTime Time { get; }

        public IoRecord(DateTime time, byte[] data)
        {
            if (data == null) throw new ArgumentNullException(nameof(data));
            if (data.Length != DataSize)
                throw new ArgumentException("IO record data must be 10 bytes, got " + data.Length, nameof(data));
            Time = ClockValue.FromBytes(ClockValue.ToBytes(time, nameof(time)), 0).Value;
            this.data = (byte[])data.Clone();
        }

        /// <summary>A record in the simulator's layout.</summary>
        public IoRecord(DateTime time, uint userId, byte verification = 0, byte inOutState = 0, uint workCode = 0)
            : this(time, Layout(userId, verification, inOutState, workCode)) { }

        static byte[] Layout(uint userId, byte verification, byte inOutState, uint workCode)
        {
            var bytes = new byte[DataSize];
            LittleEndian.Put(bytes, 0, userId);
            bytes[4] = verification;
            bytes[5] = inOutState;
            LittleEndian.Put(bytes, 6, workCode);
            return bytes;
        }

        public byte[] Data => (byte[])data.Clone();
        public uint UserId => LittleEndian.Get(data, 0);
        public byte Verification => data[4];
        public byte InOutState => data[5];
        public uint WorkCode => LittleEndian.Get(data, 6);

        /// <summary>The 16 bytes of the record.</summary>
        public byte[] ToBytes() => ClockValue.ToBytes(Time, "time").Concat(data).ToArray();

        public PQ640_IORecord ToNative() => new PQ640_IORecord { Time = ClockValue.ToNative(Time, "time"), Data = Data };

        /// <summary>The record the terminal sent; ProtocolException when its time
        /// stamp is no real date and time.</summary>
        public static IoRecord FromNative(PQ640_IORecord record)
        {
            var time = ClockValue.FromNative(record.Time);
            if (time == null || record.Data == null)
                throw new ProtocolException(ResultCodes.InvalidArgument, "GetIORecord", "IO record time is not a valid date");
            return new IoRecord(time.Value, record.Data);
        }

        /// <summary>The record's line under <see cref="CsvHeader"/>.</summary>
        public string ToCsv()
        {
            return string.Join(",", ClockValue.Show(Time), Number(UserId), Number(Verification),
                               Number(InOutState), Number(WorkCode));
        }

        internal static string Number(uint value) => value.ToString(CultureInfo.InvariantCulture);

        public bool Equals(IoRecord other) => other != null && other.Time == Time && other.data.SequenceEqual(data);
        public override bool Equals(object obj) => Equals(obj as IoRecord);
        public override int GetHashCode() => Time.GetHashCode() ^ (int)UserId;
        public override string ToString() => ToCsv();
    }

    /// <summary>An administrator log record: 16 bytes the terminal defines, passed
    /// through unchecked. In the simulator's layout: time (6), admin_id (4),
    /// operation (1), target_user_id (4), reserved (1).</summary>
    public sealed class AdminRecord : IEquatable<AdminRecord>
    {
        public const int Size = NativeMethods.LogRecordSize;
        public const string CsvHeader = "time,admin_id,operation,target_user_id,reserved";

        readonly byte[] raw;

        public AdminRecord(byte[] raw)
        {
            if (raw == null) throw new ArgumentNullException(nameof(raw));
            if (raw.Length != Size)
                throw new ArgumentException("an administrator record is 16 bytes, got " + raw.Length, nameof(raw));
            this.raw = (byte[])raw.Clone();
        }

        /// <summary>A record in the simulator's layout.</summary>
        public AdminRecord(DateTime time, uint adminId, byte operation = 0, uint targetUserId = 0, byte reserved = 0)
            : this(Layout(time, adminId, operation, targetUserId, reserved)) { }

        static byte[] Layout(DateTime time, uint adminId, byte operation, uint targetUserId, byte reserved)
        {
            var bytes = new byte[Size];
            Array.Copy(ClockValue.ToBytes(time, nameof(time)), bytes, 6);
            LittleEndian.Put(bytes, 6, adminId);
            bytes[10] = operation;
            LittleEndian.Put(bytes, 11, targetUserId);
            bytes[15] = reserved;
            return bytes;
        }

        public byte[] Raw => (byte[])raw.Clone();
        /// <summary>The time stamp, or null when bytes 0-5 are no real date and time.</summary>
        public DateTime? Time => ClockValue.FromBytes(raw, 0);
        public uint AdminId => LittleEndian.Get(raw, 6);
        public byte Operation => raw[10];
        public uint TargetUserId => LittleEndian.Get(raw, 11);
        public byte Reserved => raw[15];

        public PQ640_AdminRecord ToNative() => new PQ640_AdminRecord { Bytes = Raw };

        public static AdminRecord FromNative(PQ640_AdminRecord record)
        {
            if (record.Bytes == null) throw new ProtocolException(ResultCodes.InvalidArgument, "GetAdminRecord");
            return new AdminRecord(record.Bytes);
        }

        /// <summary>The record's line under <see cref="CsvHeader"/>; a time that is no
        /// real date is shown as its 12 hex digits.</summary>
        public string ToCsv()
        {
            var time = Time;
            var shown = time.HasValue ? ClockValue.Show(time.Value) : RecordText.Hex(raw.Take(6).ToArray());
            return string.Join(",", shown, IoRecord.Number(AdminId), IoRecord.Number(Operation),
                               IoRecord.Number(TargetUserId), IoRecord.Number(Reserved));
        }

        public bool Equals(AdminRecord other) => other != null && other.raw.SequenceEqual(raw);
        public override bool Equals(object obj) => Equals(obj as AdminRecord);
        public override int GetHashCode() => (int)AdminId ^ raw[10];
        public override string ToString() => ToCsv();
    }

    internal static class LittleEndian
    {
        internal static void Put(byte[] bytes, int offset, uint value)
        {
            for (var i = 0; i < 4; ++i) bytes[offset + i] = (byte)(value >> (8 * i));
        }

        internal static uint Get(byte[] bytes, int offset)
        {
            uint value = 0;
            for (var i = 0; i < 4; ++i) value |= (uint)bytes[offset + i] << (8 * i);
            return value;
        }
    }
}
