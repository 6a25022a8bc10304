// Users and administrators as immutable values, validated on construction:
// a record the terminal cannot hold is refused before anything is sent.
// Byte fields are copied in and handed out as copies, so a record never
// changes after it was checked. Field names follow the record vocabulary
// (docs/records.md): id, level, templates, code, info.
using System;
using System.Collections.Generic;
using System.Linq;
using Pq640.Interop;

namespace Pq640
{
    /// <summary>What users and administrators share: an ID, up to two 480-byte
    /// matching templates, a keypad code of 0 or 4..10 bytes, info bytes and the
    /// slot's two reserved bytes.</summary>
    public abstract class EnrolmentRecord : IEquatable<EnrolmentRecord>
    {
        public const int TemplateSize = NativeMethods.TemplateSize;
        public const int MaxTemplates = NativeMethods.MaxTemplates;
        public const int MaxCodeLength = NativeMethods.MaxCodeLength;
        public const int MinCodeLength = 4;

        readonly byte[][] templates;
        readonly byte[] code;
        readonly byte[] info;
        readonly byte[] reserved;

        public uint Id { get; }

        internal EnrolmentRecord(uint id, IEnumerable<byte[]> templates, byte[] code, byte[] info,
                                          int infoSize, byte[] reserved)
        {
            Id = id;
            this.templates = CheckTemplates(templates);
            this.code = CheckCode(code ?? new byte[0]);
            this.info = CheckInfo(info ?? new byte[0], infoSize);
            this.reserved = reserved == null ? new byte[2] : (byte[])reserved.Clone();
            if (this.reserved.Length != 2)
                throw new ArgumentException("reserved must be 2 bytes, got " + reserved.Length, nameof(reserved));
        }

        /// <summary>The templates, as copies.</summary>
        public IReadOnlyList<byte[]> Templates => templates.Select(t => (byte[])t.Clone()).ToList();
        public int TemplateCount => templates.Length;
        /// <summary>The keypad code bytes (a copy): empty, or 4..10 bytes.</summary>
        public byte[] Code => (byte[])code.Clone();
        /// <summary>The info bytes (a copy), padded with zeros to the slot's size.</summary>
        public byte[] Info => (byte[])info.Clone();
        public byte[] Reserved => (byte[])reserved.Clone();
        /// <summary>The code in the vocabulary's text form ("4711", or "hex:..." for other bytes).</summary>
        public string CodeText => RecordText.Show(code);
        /// <summary>The info in the vocabulary's text form, trailing zero bytes left out.</summary>
        public string InfoText => RecordText.Show(RecordText.TrimTrailingZeros(info));

        static byte[][] CheckTemplates(IEnumerable<byte[]> given)
        {
            var list = given == null ? new List<byte[]>() : given.ToList();
            if (list.Count > MaxTemplates)
                throw new ArgumentOutOfRangeException("templates", list.Count, "at most 2 templates");
            for (var i = 0; i < list.Count; ++i)
            {
                if (list[i] == null || list[i].Length != TemplateSize)
                    throw new ArgumentException("template " + i + " must be 480 bytes, got " +
                                                (list[i] == null ? "null" : list[i].Length.ToString()), "templates");
            }
            return list.Select(t => (byte[])t.Clone()).ToArray();
        }

        static byte[] CheckCode(byte[] code)
        {
            if (code.Length != 0 && (code.Length < MinCodeLength || code.Length > MaxCodeLength))
                throw new ArgumentException("code must be empty or 4..10 bytes, got " + code.Length, nameof(code));
            return (byte[])code.Clone();
        }

        static byte[] CheckInfo(byte[] info, int size)
        {
            if (info.Length > size)
                throw new ArgumentException("info must be at most " + size + " bytes, got " + info.Length, nameof(info));
            var padded = new byte[size];
            Array.Copy(info, padded, info.Length);
            return padded;
        }

        internal static byte[] TextOrNull(string text, string name)
        {
            return text == null ? null : RecordText.Parse(text, name);
        }

        // The slot's variable part: both template places and the code field.
        internal void Fill(out byte templateCount, out byte[] templateBytes, out byte codeLength,
                                    out byte[] codeBytes)
        {
            templateCount = (byte)templates.Length;
            templateBytes = new byte[MaxTemplates * TemplateSize];
            for (var i = 0; i < templates.Length; ++i) Array.Copy(templates[i], 0, templateBytes, i * TemplateSize, TemplateSize);
            codeLength = (byte)code.Length;
            codeBytes = new byte[MaxCodeLength];
            Array.Copy(code, codeBytes, code.Length);
        }

        internal static byte[][] TemplatesOf(byte count, byte[] bytes, string what)
        {
            if (count > MaxTemplates || bytes == null)
                throw new ProtocolException(ResultCodes.InvalidArgument, what, "template count " + count);
            var result = new byte[count][];
            for (var i = 0; i < count; ++i)
            {
                result[i] = new byte[TemplateSize];
                Array.Copy(bytes, i * TemplateSize, result[i], 0, TemplateSize);
            }
            return result;
        }

        internal static byte[] CodeOf(byte length, byte[] bytes, string what)
        {
            if ((length != 0 && length < MinCodeLength) || length > MaxCodeLength || bytes == null)
                throw new ProtocolException(ResultCodes.InvalidArgument, what, "code length " + length);
            return bytes.Take(length).ToArray();
        }

        /// <summary>Records are equal when every field is.</summary>
        public bool Equals(EnrolmentRecord other)
        {
            return other != null && other.GetType() == GetType() && other.Id == Id && SameExtra(other) &&
                   other.templates.Length == templates.Length &&
                   templates.Zip(other.templates, (a, b) => a.SequenceEqual(b)).All(same => same) &&
                   other.code.SequenceEqual(code) && other.info.SequenceEqual(info) &&
                   other.reserved.SequenceEqual(reserved);
        }

        internal virtual bool SameExtra(EnrolmentRecord other) => true;

        public override bool Equals(object obj) => Equals(obj as EnrolmentRecord);
        public override int GetHashCode() => (int)Id ^ (templates.Length << 24) ^ code.Length;
    }

    /// <summary>An enrolled user: info up to 10 bytes.</summary>
    public sealed class User : EnrolmentRecord
    {
        public const int InfoSize = 10;

        public User(uint id, IEnumerable<byte[]> templates = null, byte[] code = null, byte[] info = null,
                    byte[] reserved = null)
            : base(id, templates, code, info, InfoSize, reserved) { }

        /// <summary>Code and info in the vocabulary's text form: printable ASCII
        /// ("4711"), or "hex:" and hex digits.</summary>
        public User(uint id, IEnumerable<byte[]> templates, string code, string info = null)
            : this(id, templates, TextOrNull(code, nameof(code)), TextOrNull(info, nameof(info))) { }

        /// <summary>The record's 988-byte slot.</summary>
        public PQ640_UserData ToNative()
        {
            var slot = new PQ640_UserData { Id = Id, Info = Info, Reserved = Reserved };
            Fill(out slot.TemplateCount, out slot.Templates, out slot.CodeLength, out slot.Code);
            return slot;
        }

        /// <summary>The record in a slot the terminal filled; ProtocolException when
        /// its counts are out of range.</summary>
        public static User FromNative(PQ640_UserData slot)
        {
            return new User(slot.Id, TemplatesOf(slot.TemplateCount, slot.Templates, "GetUserData"),
                            CodeOf(slot.CodeLength, slot.Code, "GetUserData"), slot.Info, slot.Reserved);
        }

        public override string ToString() => "User " + Id + " (" + TemplateCount + " templates, code \"" + CodeText + "\")";
    }

    /// <summary>An enrolled administrator: a level 0..2 and info up to 9 bytes.</summary>
    public sealed class Admin : EnrolmentRecord
    {
        public const int InfoSize = 9;
        public const byte MaxLevel = 2;

        public byte Level { get; }

        public Admin(uint id, byte level = 0, IEnumerable<byte[]> templates = null, byte[] code = null,
                     byte[] info = null, byte[] reserved = null)
            : base(id, templates, code, info, InfoSize, reserved)
        {
            if (level > MaxLevel) throw new ArgumentOutOfRangeException(nameof(level), level, "level must be 0..2");
            Level = level;
        }

        /// <summary>Code and info in the vocabulary's text form.</summary>
        public Admin(uint id, byte level, IEnumerable<byte[]> templates, string code, string info = null)
            : this(id, level, templates, TextOrNull(code, nameof(code)), TextOrNull(info, nameof(info))) { }

        public PQ640_AdminData ToNative()
        {
            var slot = new PQ640_AdminData { Id = Id, Level = Level, Info = Info, Reserved = Reserved };
            Fill(out slot.TemplateCount, out slot.Templates, out slot.CodeLength, out slot.Code);
            return slot;
        }

        public static Admin FromNative(PQ640_AdminData slot)
        {
            if (slot.Level > MaxLevel)
                throw new ProtocolException(ResultCodes.InvalidArgument, "GetAdminData", "level " + slot.Level);
            return new Admin(slot.Id, slot.Level, TemplatesOf(slot.TemplateCount, slot.Templates, "GetAdminData"),
                             CodeOf(slot.CodeLength, slot.Code, "GetAdminData"), slot.Info, slot.Reserved);
        }

        internal override bool SameExtra(EnrolmentRecord other) => ((Admin)other).Level == Level;

        public override string ToString() => "Admin " + Id + " level " + Level + " (" + TemplateCount + " templates)";
    }
}
