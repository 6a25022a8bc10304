// Arrays of records as the library sees them: byte arrays with the header's
// stride, converted entry by entry to and from the fixed-layout structs.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Pq640.Interop
{
    public static class Slots
    {
        /// <summary>The bytes of one entry (a user or administrator slot, a log record).</summary>
        public static int SizeOf<T>() where T : struct => Marshal.SizeOf(typeof(T));

        /// <summary>The first <paramref name="count"/> entries of an array the library filled.</summary>
        public static T[] Decode<T>(byte[] buffer, int count) where T : struct
        {
            var size = SizeOf<T>();
            if (buffer == null) throw new ArgumentNullException(nameof(buffer));
            if (count < 0 || (long)count * size > buffer.Length)
                throw new ArgumentOutOfRangeException(nameof(count), count, "more entries than the buffer holds");
            var entries = new T[count];
            var pinned = GCHandle.Alloc(buffer, GCHandleType.Pinned);
            try
            {
                var start = pinned.AddrOfPinnedObject();
                for (var i = 0; i < count; ++i)
                    entries[i] = (T)Marshal.PtrToStructure(IntPtr.Add(start, i * size), typeof(T));
            }
            finally
            {
                pinned.Free();
            }
            return entries;
        }

        /// <summary>An array for the library holding <paramref name="entries"/>.</summary>
        public static byte[] Encode<T>(IList<T> entries) where T : struct
        {
            if (entries == null) throw new ArgumentNullException(nameof(entries));
            var size = SizeOf<T>();
            var buffer = new byte[entries.Count * size];
            var pinned = GCHandle.Alloc(buffer, GCHandleType.Pinned);
            try
            {
                var start = pinned.AddrOfPinnedObject();
                for (var i = 0; i < entries.Count; ++i)
                    Marshal.StructureToPtr(entries[i], IntPtr.Add(start, i * size), false);
            }
            finally
            {
                pinned.Free();
            }
            return buffer;
        }
    }
}
