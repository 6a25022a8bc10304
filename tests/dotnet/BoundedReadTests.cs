// The retry of listings and log reads, against a scripted library call: the
// capacities asked for, the bound on attempts and the ceiling on what a
// terminal's count can make the host allocate.
using System;
using System.Collections.Generic;
using System.Linq;
using NUnit.Framework;
using Pq640.Interop;

namespace Pq640.Tests
{
    [TestFixture]
    public class BoundedReadTests
    {
        // A library call that answers from a script: for each call, the count the terminal
        // announces; entries are written (their index) only when the count fits.
        sealed class ScriptedCall
        {
            readonly Queue<uint> announced;
            public readonly List<uint> Capacities = new List<uint>();

            public ScriptedCall(params uint[] announced) { this.announced = new Queue<uint>(announced); }

            public int Call(uint capacity, ref uint count, uint[] buffer, PQ640_ProgressCallback callback)
            {
                Capacities.Add(capacity);
                Assert.AreEqual(capacity, (uint)buffer.Length);
                count = announced.Dequeue();
                if (count > capacity) return ResultCodes.BufferTooSmall;
                for (uint i = 0; i < count; ++i)
                {
                    callback?.Invoke(count, i);
                    buffer[i] = 100 + i;
                }
                return 0;
            }
        }

        static uint[] Read(ScriptedCall script, uint counted, uint ceiling = 1000, IProgress<Progress> progress = null)
        {
            return BoundedRead.Read<uint>("GetAllUserData", counted, ceiling, 1, script.Call, progress);
        }

        [Test]
        public void AGrownCountIsReadAgainWithRoomForIt()
        {
            var script = new ScriptedCall(500, 520);
            var reports = new Reports();
            var entries = Read(script, 100, progress: reports);
            var seen = reports.Seen;
            Assert.AreEqual(Enumerable.Range(100, 520).Select(i => (uint)i), entries);
            Assert.AreEqual(new uint[] { 100 + 16 + 6, 500 + 16 + 31 }, script.Capacities);
            Assert.AreEqual(new Progress(520, 0), seen.First());          // the refused read reported nothing
            Assert.AreEqual(new Progress(520, 520), seen.Last());
        }

        [Test]
        public void ACountThatKeepsGrowingGivesUpAfterTheLastAttempt()
        {
            var script = new ScriptedCall(200, 400, 800, 1600);
            var refused = Assert.Throws<ProtocolException>(() => Read(script, 100, 100000));
            Assert.AreEqual(ResultCodes.BufferTooSmall, refused.Code);
            Assert.AreEqual(ReadLimits.Attempts, script.Capacities.Count);
            StringAssert.Contains("800 entries in 3 reads", refused.Message);
        }

        [Test]
        public void NoCountAboveTheCeilingIsAllocated()
        {
            var script = new ScriptedCall(5000);
            Assert.Throws<ProtocolException>(() => Read(script, 990, 1000));
            Assert.AreEqual(new uint[] { 1000 }, script.Capacities);       // headroom cut at the ceiling
            Assert.Throws<ProtocolException>(() => Read(new ScriptedCall(), 1001, 1000));
        }

        [Test]
        public void AnEmptyTableIsNotReadAtAll()
        {
            var reports = new Reports();
            Assert.IsEmpty(Read(new ScriptedCall(), 0, progress: reports));
            Assert.AreEqual(new[] { new Progress(0, 0) }, reports.Seen);
        }
    }
}
