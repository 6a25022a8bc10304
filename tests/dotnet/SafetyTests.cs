// Failures and misuse: each exception type from its cause, arguments refused
// before anything is sent, one open terminal per process, two threads sharing
// a terminal, and a terminal whose listings outgrow its own counts.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;
using NUnit.Framework;

namespace Pq640.Tests
{
    [TestFixture]
    public class SafetyTests : SimulatorTests
    {
        [Test]
        public void EachFailureHasItsExceptionType()
        {
            var sim = Start("tcp", "--id", "5");
            using (var terminal = sim.Open(5))
            {
                var refused = Assert.Throws<TerminalException>(() => terminal.Users.Delete(123));
                Assert.AreEqual(7, refused.Code);
                Assert.AreEqual("DeleteUserData", refused.Operation);
                Assert.AreEqual("the terminal's own result byte: it refused or failed", refused.Text);
                StringAssert.Contains("result code 7", refused.Message);
            }
            // The terminal ignores requests for another ID: no answer.
            using (var wrongId = sim.Open(6))
            {
                var silent = Assert.Throws<LinkException>(() => wrongId.CheckLink());
                Assert.AreEqual(ResultCodes.TcpFailed, silent.Code);
            }
            // Nothing listens on this loopback address: connecting fails.
            using (var nowhere = Terminal.Tcp("127.68.254.254"))
            {
                var unreachable = Assert.Throws<LinkException>(() => nowhere.CheckLink());
                Assert.AreEqual(ResultCodes.ReadFailed, unreachable.Code);
                Assert.AreEqual(ResultCodes.Text(ResultCodes.ReadFailed), unreachable.Text);
            }
            Assert.AreEqual(new[] { "DeleteUserData" }, sim.Transactions());
        }

        [Test]
        public void BadArgumentsAreRefusedBeforeAnythingIsSent()
        {
            var sim = Start("tcp");
            foreach (var address in new[] { "127.1", " 127.68.0.1", "127.68.0.256", "127.\u0666\u0666.0.1", "0.0.0.0",
                                            "255.255.255.255", "127.68.0.1\0", "127.68.0.1\n" })
                Assert.Throws<ArgumentException>(() => Terminal.Tcp(address), address);
            Assert.Throws<ArgumentNullException>(() => Terminal.Tcp(null));
            Assert.Throws<ArgumentOutOfRangeException>(() => Terminal.Serial(11));
            Assert.Throws<ArgumentOutOfRangeException>(() => Terminal.Serial(1, 7));
            using (var terminal = sim.Open())
            {
                var block = new byte[256];
                block[32] = 1;
                block[4] = 100;                                           // offset 4 is 0..99
                var traps = new Dictionary<string, TestDelegate>
                {
                    { "clock", () => terminal.Clock = new DateTime(1999, 12, 31) },
                    { "mode", () => terminal.SetCommMode(3) },
                    { "word", () => terminal.UpdateCommState(5) },
                    { "settings", () => terminal.SystemData = block },
                    { "short settings", () => terminal.SystemData = new byte[255] },
                    { "null user", () => terminal.Users.Add(null) },
                    { "no IDs", () => terminal.UsersIoRecords(new uint[0], DateTime.Now, DateTime.Now) },
                    { "1001 IDs", () => terminal.UsersIoRecordCount(new uint[1001], DateTime.Now, DateTime.Now) },
                    { "delete without query", () => terminal.DeleteIoRecords(null) },
                    { "erase", () => terminal.Erase(false) },
                };
                foreach (var trap in traps)
                    Assert.That(trap.Value, Throws.InstanceOf<ArgumentException>(), trap.Key);
                StringAssert.Contains("offset 4", Assert.Throws<ArgumentException>(() => terminal.SystemData = block).Message);
            }
            Assert.IsEmpty(sim.Transactions());
        }

        [Test]
        public void OnlyOneTerminalIsOpenAtATime()
        {
            var first = Start("tcp");
            var second = Start("tcp");
            using (var terminal = first.Open())
            {
                var refused = Assert.Throws<InvalidOperationException>(() => second.Open());
                StringAssert.Contains(first.Address, refused.Message);
                terminal.CheckLink();                                     // still pointed at the first
            }
            var closed = first.Open();
            closed.Dispose();
            Assert.Throws<ObjectDisposedException>(() => closed.CheckLink());
            using (var terminal = second.Open()) terminal.CheckLink();
            Assert.AreEqual(new[] { "CheckLink" }, first.Transactions());
            Assert.AreEqual(new[] { "CheckLink" }, second.Transactions());
        }

        [TestCase("tcp", 2)]
        [TestCase("serial", 15)]
        public void TwoThreadsNeverInterleaveFrames(string link, int rounds)
        {
            var sim = Start(link, "--users", "20");
            var failures = new List<Exception>();
            using (var terminal = sim.Open())
            {
                var tasks = new Action[] { terminal.CheckLink, () => terminal.Users.All() };
                var threads = tasks.Select(task => new Thread(() =>
                {
                    try
                    {
                        for (var i = 0; i < rounds; ++i) task();
                    }
                    catch (Exception failure)
                    {
                        lock (failures) failures.Add(failure);
                    }
                })).ToList();
                threads.ForEach(t => t.Start());
                Assert.IsTrue(threads.All(t => t.Join(TimeSpan.FromSeconds(60))), "a thread hung");
            }
            Assert.IsEmpty(failures);
            var commands = sim.Transactions();                            // whole request/response pairs only
            Assert.AreEqual(rounds, commands.Count(c => c == "CheckLink"));
            Assert.AreEqual(2 * rounds, commands.Count(c => c == "GetAllUserData"));
            // A listing's count and read are one operation: nothing runs between them.
            for (var i = 0; i < commands.Count; ++i)
                if (commands[i] == "GetAllUserData") Assert.AreEqual("GetAllUserData", commands[++i]);
        }

        [Test]
        public void AnExceptionFromProgressSurfacesAfterTheTransfer()
        {
            var sim = Start("tcp", "--users", "4");
            using (var terminal = sim.Open())
            {
                var thrown = Assert.Throws<KeyNotFoundException>(() => terminal.Users.All(new Throwing()));
                Assert.AreEqual("from the callback", thrown.Message);
                // A command from inside a report would land in the middle of the transfer.
                Assert.Throws<InvalidOperationException>(() => terminal.Users.All(new Reports { Also = p => terminal.CheckLink() }));
                Assert.Throws<InvalidOperationException>(() => terminal.Users.All(new Reports { Also = p => terminal.Dispose() }));
                terminal.CheckLink();                                     // the transactions had finished cleanly
            }
            Assert.AreEqual(new[] { "GetAllUserData", "GetAllUserData", "GetAllUserData", "GetAllUserData",
                                    "GetAllUserData", "GetAllUserData", "CheckLink" }, sim.Transactions());
        }

        [Test]
        public void ListingsThatOutgrowTheirCountAreReadWholeAfterOneRetry()
        {
            // Every reading answer announces 100 more entries than the count just gave:
            // more than the headroom, so the first read is refused unwritten and repeated.
            var sim = Start("tcp", "--users", "20", "--io-records", "10", "--count-surplus", "100");
            using (var terminal = sim.Open())
            {
                var reports = new Reports();
                var users = terminal.Users.All(reports);
                var progress = reports.Seen;
                Assert.AreEqual(120, users.Count);
                Assert.AreEqual(Enumerable.Range(1, 20).Select(i => (uint)i), users.Take(20).Select(u => u.Id));
                Assert.AreEqual(new Progress(120, 0), progress.First());       // nothing from the refused read
                Assert.AreEqual(new Progress(120, 120), progress.Last());
                Assert.AreEqual(110, terminal.IoRecords().Count);
            }
            Assert.AreEqual(new[] { "GetAllUserData", "GetAllUserData", "GetAllUserData", "GetIORecordNum",
                                    "GetIORecord", "GetIORecord" }, sim.Transactions());
        }

        [Test]
        public void ATerminalAnnouncingMoreThanTheCeilingIsRefusedUnread()
        {
            var sim = Start("tcp", "--users", "1", "--count-surplus", (ReadLimits.MaxEnrolments + 1).ToString());
            using (var terminal = sim.Open())
            {
                var refused = Assert.Throws<ProtocolException>(() => terminal.Users.All());
                Assert.AreEqual(ResultCodes.BufferTooSmall, refused.Code);
                StringAssert.Contains("100002 entries", refused.Message);
                terminal.CheckLink();                                     // the link is still usable
            }
        }

        sealed class Throwing : IProgress<Progress>
        {
            public void Report(Progress value) => throw new KeyNotFoundException("from the callback");
        }
    }
}
