// The settings block's range rules, in the order the library checks them (the
// same table as PQ640_SystemDataRules in the C header; a test compares the
// two): the little-endian field of `width` bytes at `offset` lies in
// low..high, high being the 4-byte field at `limitOffset` when one is given.
using System;

namespace Pq640
{
    public static class SystemDataRules
    {
        public const int Size = Interop.NativeMethods.SystemDataSize;
        public const int NoLimitField = 0xFF;

        // offset, width, limit offset (NoLimitField: none), low, high
        internal static readonly uint[][] Rules =
        {
            new uint[] { 0, 1, NoLimitField, 0, 30 }, new uint[] { 1, 1, NoLimitField, 0, 1 },
            new uint[] { 2, 1, NoLimitField, 0, 2 }, new uint[] { 4, 2, NoLimitField, 0, 99 },
            new uint[] { 32, 4, NoLimitField, 1, 10 }, new uint[] { 36, 4, 32, 0, 0 },
            new uint[] { 68, 4, 32, 0, 0 }, new uint[] { 40, 4, NoLimitField, 0, 1000 },
            new uint[] { 44, 4, 40, 0, 0 }, new uint[] { 64, 4, NoLimitField, 0, 1000 },
            new uint[] { 48, 4, NoLimitField, 0, 1000 }, new uint[] { 52, 4, 48, 0, 0 },
            new uint[] { 56, 4, NoLimitField, 0, 50000 }, new uint[] { 60, 4, 56, 0, 0 },
        };

        /// <summary>Words for the first rule a 256-byte block breaks, or null when it keeps
        /// them all (the library refuses to write such a block).</summary>
        public static string Broken(byte[] block)
        {
            if (block == null) throw new ArgumentNullException(nameof(block));
            if (block.Length != Size)
                throw new ArgumentException("the settings block is 256 bytes, got " + block.Length, nameof(block));
            foreach (var rule in Rules)
            {
                var high = rule[2] == NoLimitField ? rule[4] : Field(block, rule[2], 4);
                var value = Field(block, rule[0], rule[1]);
                if (value < rule[3] || value > high)
                {
                    var bound = rule[2] == NoLimitField ? "" : " (the field at offset " + rule[2] + ")";
                    return "the " + rule[1] + "-byte field at offset " + rule[0] + " is " + value + ", outside " +
                           rule[3] + ".." + high + bound;
                }
            }
            return null;
        }

        static uint Field(byte[] block, uint offset, uint width)
        {
            uint value = 0;
            for (var i = 0; i < width; ++i) value |= (uint)block[offset + i] << (8 * i);
            return value;
        }
    }
}
