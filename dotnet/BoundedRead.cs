// Reading a listing or a log whose length only the terminal knows. The array
// is sized from the count call just before, and the read is a Bounded one: the
// library is told the array's capacity and, when the terminal announces more
// (entries arrived between the count and the read), writes nothing and
// returns -105 with the announced number. The read is then repeated with an
// array of that size, a bounded number of times and never beyond a ceiling, so
// neither a busy terminal nor a hostile one can make the host allocate without
// limit or return a partial picture as complete.
using System;
using System.Collections.Generic;
using Pq640.Interop;

namespace Pq640
{
    /// <summary>The bounds of every listing and log read.</summary>
    public static class ReadLimits
    {
        /// <summary>Reads of one listing before giving up on a terminal whose count keeps
        /// growing past the array (the first read included).</summary>
        public const int Attempts = 3;
        /// <summary>The most users or administrators one listing reads (about 99 MB of slots).</summary>
        public const uint MaxEnrolments = 100000;
        /// <summary>The most log records one read takes (16 MB).</summary>
        public const uint MaxLogRecords = 1000000;

        /// <summary>Room left beyond the count for entries that arrive before the read.</summary>
        public static uint Headroom(uint counted) => 16 + counted / 16;
    }

    internal delegate int BoundedCall<T>(uint capacity, ref uint count, T[] buffer, PQ640_ProgressCallback callback);

    internal static class BoundedRead
    {
        /// <summary>Every entry, read with a capacity from <paramref name="counted"/>, as the
        /// array the library filled, cut to the entries it wrote; an entry takes
        /// <paramref name="stride"/> elements. Call under the terminal's lock, right after
        /// the count.</summary>
        internal static T[] Read<T>(string operation, uint counted, uint ceiling, int stride, BoundedCall<T> call,
                                    IProgress<Progress> progress)
        {
            if (counted == 0)
            {
                // Nothing to read: one transaction (and over TCP a reconnect) saved.
                if (progress != null) progress.Report(new Progress(0, 0));
                return new T[0];
            }
            var wanted = counted;
            for (var attempt = 1; ; ++attempt)
            {
                if (wanted > ceiling)
                    throw new ProtocolException(ResultCodes.BufferTooSmall, operation,
                                                "the terminal announced " + wanted + " entries, more than the " +
                                                ceiling + " one read takes");
                var capacity = (uint)Math.Min((ulong)ceiling, (ulong)wanted + ReadLimits.Headroom(wanted));
                var buffer = new T[capacity * stride];
                uint count = 0;
                var callback = new NativeProgress(progress);
                var code = call(capacity, ref count, buffer, callback.Callback);
                callback.Returned();
                if (code == ResultCodes.BufferTooSmall)
                {
                    if (attempt == ReadLimits.Attempts)
                        throw new ProtocolException(code, operation, "the terminal announced " + count + " entries in " +
                                                    attempt + " reads sized from its counts");
                    wanted = count;
                    continue;
                }
                if (code != 0) throw Pq640Exception.For(code, operation);
                if (count > capacity)
                    throw new ProtocolException(ResultCodes.InvalidArgument, operation,
                                                "the library reported " + count + " entries in an array of " + capacity);
                callback.Finished(count);
                Array.Resize(ref buffer, (int)count * stride);
                return buffer;
            }
        }

        /// <summary>The records in the first entries of a filled array.</summary>
        internal static List<TOut> Convert<TNative, TOut>(byte[] filled, Func<TNative, TOut> convert)
            where TNative : struct
        {
            var entries = Slots.Decode<TNative>(filled, filled.Length / Slots.SizeOf<TNative>());
            var list = new List<TOut>(entries.Length);
            foreach (var entry in entries) list.Add(convert(entry));
            return list;
        }
    }
}
