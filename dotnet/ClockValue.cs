// DateTime <-> the terminal's six clock bytes. The terminal's clock has no
// time zone and covers 2000..2099 to the second: a UTC DateTime is converted
// to the host's local time first, fractions of a second are dropped, and a
// year outside the range is refused before anything is sent.
using System;
using Pq640.Interop;

namespace Pq640
{
    internal static class ClockValue
    {
        internal static PQ640_DateTime ToNative(DateTime value, string name)
        {
            if (value.Kind == DateTimeKind.Utc) value = value.ToLocalTime();
            if (value.Year < 2000 || value.Year > 2099)
                throw new ArgumentOutOfRangeException(name, value, name + " must lie in 2000..2099");
            return new PQ640_DateTime
            {
                Year = (byte)(value.Year - 2000), Month = (byte)value.Month, Day = (byte)value.Day,
                Hour = (byte)value.Hour, Minute = (byte)value.Minute, Second = (byte)value.Second
            };
        }

        internal static byte[] ToBytes(DateTime value, string name)
        {
            var clock = ToNative(value, name);
            return new[] { clock.Year, clock.Month, clock.Day, clock.Hour, clock.Minute, clock.Second };
        }

        /// <summary>The DateTime of six clock bytes, or null when they are no real date
        /// and time (the library's own rule).</summary>
        internal static DateTime? FromBytes(byte[] raw, int offset)
        {
            int year = raw[offset], month = raw[offset + 1], day = raw[offset + 2];
            int hour = raw[offset + 3], minute = raw[offset + 4], second = raw[offset + 5];
            if (year > 99 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
                return null;
            if (day > DateTime.DaysInMonth(2000 + year, month)) return null;
            return new DateTime(2000 + year, month, day, hour, minute, second, DateTimeKind.Unspecified);
        }

        internal static DateTime? FromNative(PQ640_DateTime clock)
        {
            return FromBytes(new[] { clock.Year, clock.Month, clock.Day, clock.Hour, clock.Minute, clock.Second }, 0);
        }

        /// <summary>"YYYY-MM-DD hh:mm:ss", the vocabulary's time form.</summary>
        internal static string Show(DateTime value)
        {
            return value.ToString("yyyy-MM-dd HH:mm:ss", System.Globalization.CultureInfo.InvariantCulture);
        }
    }
}
