// The binding against the simulator, over TCP on loopback and over a
// pseudo-terminal. Over TCP every command costs the library's 400 ms
// reconnect pause, so each test sends few commands.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;
using NUnit.Framework;

namespace Pq640.Tests
{
    [TestFixture]
    public class TerminalTests : SimulatorTests
    {
        const string ClockText = "26-03-15 12:00:00";

        [TestCase("tcp")]
        [TestCase("serial")]
        public void AUserWithTwoTemplatesAndAPinComesBackByteForByte(string link)
        {
            var sim = Start(link, "--users", "3");
            var alice = new User(1001, new[] { RecordTests.Template(1), RecordTests.Template(2) }, "4711", "ALICE");
            var more = Enumerable.Range(0, 3).Select(i => new User(2000 + (uint)i, null, "hex:0102030" + i)).ToList();
            using (var terminal = sim.Open())
            {
                terminal.Users.Add(alice);
                var back = terminal.Users.Get(1001);
                Assert.AreEqual(alice, back);
                Assert.AreEqual("4711", back.CodeText);
                var added = new Reports();
                Assert.AreEqual(new byte[3], terminal.Users.AddMany(more, added));
                // The library calls back before sending each record and before reading its result:
                // only the second pass is progress.
                Assert.AreEqual(Enumerable.Range(0, 4).Select(i => new Progress(3, (uint)i)), added.Seen);
                Assert.AreEqual(new[] { alice, more[1] }, terminal.Users.GetMany(new uint[] { 1001, 999, 2001 }));
                Assert.AreEqual(new byte[] { 0, 7 }, terminal.Users.DeleteMany(new uint[] { 2000, 999 }));
                var all = terminal.Users.All();
                Assert.AreEqual(new uint[] { 1, 2, 3, 1001, 2001, 2002 }, all.Select(u => u.Id));
                Assert.AreEqual(alice, all[3]);
                Assert.AreEqual(7, Assert.Throws<TerminalException>(() => terminal.Users.Get(2000)).Code);
            }
            Assert.AreEqual(new[] { "AddUserData", "GetUserData", "AddUsersData", "GetUsersData", "DeleteUsersData",
                                    "GetAllUserData", "GetAllUserData", "GetUserData" }, sim.Transactions());
        }

        [Test]
        public void ThreeThousandUsersAreListedWithProgressThroughForcedCollections()
        {
            var sim = Start("tcp", "--users", "3000");
            var progress = new Reports();
            var collections = 0;
            progress.Also = p =>
            {
                // The delegate the library calls must survive collections in mid-transfer.
                if (p.Index % 100 != 0) return;
                GC.Collect();
                GC.WaitForPendingFinalizers();
                ++collections;
            };
            IReadOnlyList<User> users;
            using (var terminal = sim.Open()) users = terminal.Users.All(progress);
            Assert.AreEqual(Enumerable.Range(1, 3000).Select(i => (uint)i), users.Select(u => u.Id));
            Assert.IsTrue(users.All(u => u.TemplateCount == 2 && u.Code.Length >= 4));
            var expected = Enumerable.Range(0, 3001).Select(i => new Progress(3000, (uint)i));
            Assert.AreEqual(expected, progress.Seen);
            Assert.AreEqual(31, collections);
            Assert.AreEqual(new[] { "GetAllUserData", "GetAllUserData" }, sim.Transactions());
        }

        [Test]
        public void AdministratorsRoundTrip()
        {
            var sim = Start("tcp", "--admins", "2");
            var boss = new Admin(50, 2, new[] { RecordTests.Template(5) }, "0000", "boss");
            using (var terminal = sim.Open())
            {
                Assert.AreEqual(new uint[] { 1, 2 }, terminal.Admins.Ids());
                Assert.AreEqual(new byte[] { 0, 0 }, terminal.Admins.AddMany(new[] { boss, new Admin(51, 1) }));
                Assert.AreEqual(new[] { boss }, terminal.Admins.GetMany(new uint[] { 9, 50 }));
                Assert.AreEqual(new byte[] { 0, 7 }, terminal.Admins.DeleteMany(new uint[] { 51, 9 }));
                Assert.AreEqual(3u, terminal.Admins.Count());
                terminal.Admins.Clear();
                Assert.AreEqual(0, terminal.Admins.All().Count);
            }
        }

        [TestCase("tcp")]
        [TestCase("serial")]
        public void ControlCommandsRoundTrip(string link)
        {
            var sim = Start(link, "--clock", ClockText);
            using (var terminal = sim.Open())
            {
                terminal.Clock = new DateTime(2024, 2, 29, 23, 59, 50);
                var clock = terminal.Clock;
                Assert.That(clock, Is.InRange(new DateTime(2024, 2, 29, 23, 59, 50), new DateTime(2024, 3, 1, 0, 1, 0)));
                var block = terminal.SystemData;
                block[0] = (byte)(block[0] == 17 ? 18 : 17);
                terminal.SystemData = block;
                Assert.AreEqual(block, terminal.SystemData);
                terminal.SetCommMode(2);
                terminal.SetMatching(9);
                terminal.ChangeTerminalId(42);
                Assert.AreEqual(42, terminal.TerminalId);
                terminal.CheckLink();                       // only ID 42 is answered now
                if (link == "serial")
                {
                    terminal.UpdateCommState(0x13);         // 19200 baud: the local port follows
                    terminal.CheckLink();
                }
                terminal.Erase(confirm: true);
                Assert.AreEqual(0u, terminal.Users.Count());
            }
            var commands = sim.Transactions();
            Assert.AreEqual(new[] { "SetDateTime", "GetDateTime", "GetSystemData" }, commands.Take(3));
            Assert.Contains("DeleteAllDataRom", commands);
        }

        [Test]
        public void IoRecordsOfADayAreWhatTheAdminToolReads()
        {
            var admin = Environment.GetEnvironmentVariable("PQ640_ADMIN");
            if (string.IsNullOrEmpty(admin)) Assert.Ignore("PQ640_ADMIN names no admin tool");
            var sim = Start("tcp", "--clock", ClockText, "--users", "3", "--io-records", "300");
            var day = new DateTime(2026, 3, 14);
            List<string> ours;
            using (var terminal = sim.Open())
                ours = terminal.IoRecords(Query.Between(day, day.AddDays(1).AddSeconds(-1))).Select(r => r.ToCsv()).ToList();
            Assert.That(ours.Count, Is.GreaterThan(5));
            var tool = Tool.Run(admin, "--tcp " + sim.Address + " --csv --quiet logs io get --from 2026-03-14 --to 2026-03-14");
            Assert.AreEqual(new[] { IoRecord.CsvHeader }.Concat(ours), tool.Split('\n').Where(l => l.Length > 0));
        }

        [Test]
        public void TheReadmeExampleRunsAsWritten()
        {
            var readme = File.ReadAllText(Path.Combine(Environment.GetEnvironmentVariable("PQ640_SOURCE") ?? ".",
                                                       "dotnet", "README.md"));
            var example = Regex.Match(readme, "```csharp\n(.*?)```", RegexOptions.Singleline).Groups[1].Value;
            var lines = example.Split('\n');
            Assert.That(lines.Count(l => l.Trim().Length > 0), Is.LessThanOrEqualTo(10), example);
            var sim = Start("tcp", "--users", "3", "--io-records", "300");
            // Top-level statements (C# 9) wrapped in a Main that mcs compiles; the address is the simulator's.
            var directives = lines.Where(l => Regex.IsMatch(l, @"^using [\w.]+;$"));
            var body = lines.Except(directives).Select(l => l.Replace("192.0.2.10", sim.Address));
            var work = Path.Combine(Path.GetTempPath(), "pq640-readme-" + Process.GetCurrentProcess().Id);
            Directory.CreateDirectory(work);
            try
            {
                var binding = typeof(Terminal).Assembly.Location;
                File.Copy(binding, Path.Combine(work, "Pq640.dll"));
                File.WriteAllText(Path.Combine(work, "Example.cs"), string.Join("\n", directives) +
                                  "\nstatic class Example { static void Main() {\n" + string.Join("\n", body) + "\n} }\n");
                Tool.Run(Environment.GetEnvironmentVariable("PQ640_MCS") ?? "mcs",
                         "-r:" + work + "/Pq640.dll -out:" + work + "/Example.exe " + work + "/Example.cs");
                var printed = Tool.Run("mono", work + "/Example.exe").Split('\n').Where(l => l.Length > 0).ToList();
                Assert.AreEqual(new[] { 1, 2, 3 }.Select(id => id + " 2 templates, code "), printed.Take(3).Select(
                    l => l.Substring(0, l.IndexOf("code ") + 5)));
                Assert.IsTrue(printed.Skip(3).All(l => Regex.IsMatch(l, @"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(,\d+){4}$")),
                              string.Join("\n", printed));
            }
            finally
            {
                Directory.Delete(work, true);
            }
            Assert.AreEqual(new[] { "SetDateTime", "GetAllUserData", "GetAllUserData", "GetIORecordNum" },
                            sim.Transactions().Take(4));
        }

        [Test]
        public void LogsRoundTrip()
        {
            var sim = Start("tcp", "--clock", ClockText, "--users", "3", "--io-records", "30", "--admin-records", "6");
            var day = new DateTime(2026, 3, 15);
            var mine = Enumerable.Range(0, 3).Select(i => new IoRecord(day.AddHours(8 + i), 7u, 0, (byte)(i % 2), (uint)i)).ToList();
            var entry = new AdminRecord(day.AddHours(9), 2, 5, 3);
            using (var terminal = sim.Open())
            {
                var everything = terminal.IoRecords();
                Assert.AreEqual(30, everything.Count);
                Assert.AreEqual(everything.OrderBy(r => r.Time), everything);
                foreach (var record in mine) terminal.AddIoRecord(record);
                var progress = new Reports();
                Assert.AreEqual(mine, terminal.IoRecords(Query.User(7), progress));
                Assert.AreEqual(new Progress(3, 3), progress.Seen.Last());
                Assert.AreEqual(new[] { mine[1] }, terminal.UsersIoRecords(new uint[] { 7 }, day, day.AddHours(23), 1));
                terminal.DeleteIoRecords(Query.User(7));
                Assert.AreEqual(30u, terminal.IoRecordCount());

                Assert.AreEqual(6, terminal.AdminRecords().Count);
                terminal.AddAdminRecord(entry);
                Assert.AreEqual(new[] { entry }, terminal.AdminRecords(Query.User(2, day, day.AddHours(23))));
                terminal.DeleteAdminRecords(Query.All());
                Assert.AreEqual(0u, terminal.AdminRecordCount());
            }
        }
    }
}
