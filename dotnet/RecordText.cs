// The record vocabulary's text rules (docs/records.md), shared by every tool:
// a code or info field is shown as text when every byte is printable ASCII
// (0x20..0x7E), otherwise as "hex:" and lower-case hex digits; text that itself
// begins with "hex:" is shown in the hex form too, so a value is never
// ambiguous. Info drops its trailing zero bytes when shown.
using System;
using System.Text;

namespace Pq640
{
    public static class RecordText
    {
        public const string HexPrefix = "hex:";

        /// <summary>The text form of a code or info field.</summary>
        public static string Show(byte[] bytes)
        {
            if (bytes == null) throw new ArgumentNullException(nameof(bytes));
            var text = new StringBuilder(bytes.Length);
            foreach (var b in bytes)
            {
                if (b < 0x20 || b > 0x7E) return HexPrefix + Hex(bytes);
                text.Append((char)b);
            }
            var shown = text.ToString();
            return shown.StartsWith(HexPrefix, StringComparison.Ordinal) ? HexPrefix + Hex(bytes) : shown;
        }

        /// <summary>The bytes of a text form: "hex:" and an even number of hex digits,
        /// or printable ASCII taken as its bytes (a PIN "4711" is the four bytes 4711).</summary>
        public static byte[] Parse(string text, string name)
        {
            if (text == null) throw new ArgumentNullException(name);
            if (text.StartsWith(HexPrefix, StringComparison.Ordinal)) return FromHex(text.Substring(HexPrefix.Length), name);
            var bytes = new byte[text.Length];
            for (var i = 0; i < text.Length; ++i)
            {
                if (text[i] < 0x20 || text[i] > 0x7E)
                    throw new ArgumentException(name + " must be printable ASCII or \"hex:\" and hex digits; " +
                                                "character " + i + " is U+" + ((int)text[i]).ToString("X4"), name);
                bytes[i] = (byte)text[i];
            }
            return bytes;
        }

        /// <summary>Lower-case hex digits, two per byte.</summary>
        public static string Hex(byte[] bytes)
        {
            var text = new StringBuilder(bytes.Length * 2);
            foreach (var b in bytes) text.Append(b.ToString("x2"));
            return text.ToString();
        }

        static byte[] FromHex(string digits, string name)
        {
            if (digits.Length % 2 != 0)
                throw new ArgumentException(name + ": an even number of hex digits must follow \"hex:\"", name);
            var bytes = new byte[digits.Length / 2];
            for (var i = 0; i < bytes.Length; ++i)
                bytes[i] = (byte)(Digit(digits[2 * i], name) * 16 + Digit(digits[2 * i + 1], name));
            return bytes;
        }

        static int Digit(char c, string name)
        {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            throw new ArgumentException(name + ": '" + c + "' is not a hex digit", name);
        }

        internal static byte[] TrimTrailingZeros(byte[] bytes)
        {
            var length = bytes.Length;
            while (length > 0 && bytes[length - 1] == 0) --length;
            var trimmed = new byte[length];
            Array.Copy(bytes, trimmed, length);
            return trimmed;
        }
    }
}
