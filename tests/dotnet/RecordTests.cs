// Records without a terminal: what construction refuses, the text rules of
// the record vocabulary, and the exact bytes of slots, log records and queries.
using System;
using System.Linq;
using NUnit.Framework;
using Pq640.Interop;

namespace Pq640.Tests
{
    [TestFixture]
    public class RecordTests
    {
        internal static byte[] Template(int seed) => Enumerable.Range(0, 480).Select(i => (byte)((seed * 31 + i * 7) % 256)).ToArray();

        [Test]
        public void RecordsTheTerminalCannotHoldAreRefused()
        {
            Assert.Throws<ArgumentOutOfRangeException>(() => new User(1, new[] { Template(1), Template(2), Template(3) }));
            Assert.Throws<ArgumentException>(() => new User(1, new[] { new byte[479] }));
            Assert.Throws<ArgumentException>(() => new User(1, new byte[][] { null }));
            Assert.Throws<ArgumentException>(() => new User(1, null, new byte[3]));
            Assert.Throws<ArgumentException>(() => new User(1, null, new byte[11]));
            Assert.Throws<ArgumentException>(() => new User(1, null, "4711", "eleven char"));
            Assert.Throws<ArgumentException>(() => new User(1, null, "47\u00b11"));           // not ASCII
            Assert.Throws<ArgumentException>(() => new User(1, null, "hex:abc"));             // odd digits
            Assert.Throws<ArgumentException>(() => new Admin(1, 0, null, null, new byte[10]));
            Assert.Throws<ArgumentOutOfRangeException>(() => new Admin(1, 3));
            Assert.Throws<ArgumentException>(() => new IoRecord(new DateTime(2026, 1, 1), new byte[9]));
            Assert.Throws<ArgumentOutOfRangeException>(() => new IoRecord(new DateTime(1999, 12, 31), 1u));
            Assert.Throws<ArgumentOutOfRangeException>(() => new IoRecord(new DateTime(2100, 1, 1), 1u));
            Assert.Throws<ArgumentException>(() => new AdminRecord(new byte[15]));
            Assert.Throws<ArgumentException>(() => new Query(new byte[17]));
            Assert.Throws<ArgumentException>(() => Query.User(1, new DateTime(2026, 1, 1)));
        }

        [Test]
        public void RecordsCannotBeChangedAfterTheyWereChecked()
        {
            var template = Template(4);
            var code = new byte[] { 1, 2, 3, 4 };
            var user = new User(7, new[] { template }, code);
            template[0] ^= 0xFF;
            code[0] = 9;
            user.Code[1] = 9;
            user.Templates[0][1] ^= 0xFF;
            Assert.AreEqual(new byte[] { 1, 2, 3, 4 }, user.Code);
            Assert.AreEqual(Template(4), user.Templates[0]);
        }

        [Test]
        public void TextFormsFollowTheRecordVocabulary()
        {
            var pin = new User(1, null, "4711", "ALICE");
            Assert.AreEqual(new byte[] { 0x34, 0x37, 0x31, 0x31 }, pin.Code);
            Assert.AreEqual("4711", pin.CodeText);
            Assert.AreEqual("ALICE", pin.InfoText);                        // trailing zeros left out
            Assert.AreEqual(10, pin.Info.Length);
            var binary = new User(2, null, new byte[] { 0, 1, 2, 0xFF }, new byte[] { 0x41, 0, 0x42 });
            Assert.AreEqual("hex:000102ff", binary.CodeText);
            Assert.AreEqual("hex:410042", binary.InfoText);
            Assert.AreEqual("hex:6865783a31323334", new User(3, null, "hex:6865783a31323334").CodeText);
            Assert.AreEqual(binary, new User(2, null, binary.CodeText, binary.InfoText));
            Assert.AreEqual("", new Admin(4).CodeText);
        }

        [Test]
        public void SlotsCarryEveryFieldAndComeBackEqual()
        {
            var code = RecordText.Parse("123456", "code");
            var info = new byte[] { 0x62, 0x6F, 0x73, 0x73 };
            var admin = new Admin(0xA1B2C3D4, 2, new[] { Template(1) }, code, info, new byte[] { 5, 6 });
            var slot = admin.ToNative();
            Assert.AreEqual(0xA1B2C3D4u, slot.Id);
            Assert.AreEqual(2, slot.Level);
            Assert.AreEqual(1, slot.TemplateCount);
            Assert.AreEqual(Template(1).Concat(new byte[480]), slot.Templates);
            Assert.AreEqual(6, slot.CodeLength);
            Assert.AreEqual(new byte[] { 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0, 0, 0, 0 }, slot.Code);
            Assert.AreEqual(admin, Admin.FromNative(slot));
            Assert.AreEqual(new byte[] { 0x62, 0x6F, 0x73, 0x73, 0, 0, 0, 0, 0 }, slot.Info);
            Assert.AreEqual(new byte[] { 5, 6 }, slot.Reserved);
            Assert.AreNotEqual(admin, new Admin(0xA1B2C3D4, 1, new[] { Template(1) }, code, info, new byte[] { 5, 6 }));

            slot.CodeLength = 3;                                               // as a hostile terminal might send it
            Assert.AreEqual(ResultCodes.InvalidArgument,
                            Assert.Throws<ProtocolException>(() => Admin.FromNative(slot)).Code);
            var user = new User(9, new[] { Template(2), Template(3) }).ToNative();
            user.TemplateCount = 3;
            Assert.Throws<ProtocolException>(() => User.FromNative(user));
        }

        [Test]
        public void LogRecordsAndQueriesHaveTheSimulatorsLayout()
        {
            var at = new DateTime(2026, 3, 15, 8, 30, 5, 999);
            var io = new IoRecord(at, 0x01020304, 1, 2, 0x0A0B0C0D);
            Assert.AreEqual(new byte[] { 26, 3, 15, 8, 30, 5, 4, 3, 2, 1, 1, 2, 0x0D, 0x0C, 0x0B, 0x0A }, io.ToBytes());
            Assert.AreEqual(new DateTime(2026, 3, 15, 8, 30, 5), io.Time);    // fractions dropped
            Assert.AreEqual("2026-03-15 08:30:05,16909060,1,2,168496141", io.ToCsv());
            Assert.AreEqual(io, IoRecord.FromNative(io.ToNative()));

            var bad = io.ToNative();
            bad.Time.Month = 13;
            Assert.Throws<ProtocolException>(() => IoRecord.FromNative(bad));

            var entry = new AdminRecord(at, 2, 5, 3, 7);
            Assert.AreEqual(new byte[] { 26, 3, 15, 8, 30, 5, 2, 0, 0, 0, 5, 3, 0, 0, 0, 7 }, entry.Raw);
            Assert.AreEqual("2026-03-15 08:30:05,2,5,3,7", entry.ToCsv());
            var raw = entry.Raw;
            raw[2] = 31;                                                         // 31 March is fine,
            raw[1] = 2;                                                          // 31 February is not
            Assert.IsNull(new AdminRecord(raw).Time);
            Assert.AreEqual("1a021f081e05,2,5,3,7", new AdminRecord(raw).ToCsv());

            Assert.AreEqual(new byte[18], Query.All().Raw);
            Assert.AreEqual(new byte[] { 3, 26, 3, 15, 8, 30, 5, 26, 3, 16, 0, 0, 0, 0xE9, 3, 0, 0, 0 },
                            Query.User(1001, at, new DateTime(2026, 3, 16)).Raw);
            Assert.AreEqual(Query.KindTimeRange, Query.Between(at, at).Kind);
        }

        [Test]
        public void ClockValuesStayInsideTheTerminalsCentury()
        {
            var utc = new DateTime(2026, 6, 1, 12, 0, 0, DateTimeKind.Utc);
            Assert.AreEqual(utc.ToLocalTime(), new IoRecord(utc, 1u).Time);
            var leap = new DateTime(2024, 2, 29, 23, 59, 59);
            Assert.AreEqual(leap, new IoRecord(leap, 1u).Time);
            Assert.IsNull(ClockValue.FromBytes(new byte[] { 25, 2, 29, 0, 0, 0 }, 0));
            Assert.IsNull(ClockValue.FromBytes(new byte[] { 100, 1, 1, 0, 0, 0 }, 0));
            Assert.IsNull(ClockValue.FromBytes(new byte[] { 26, 1, 1, 24, 0, 0 }, 0));
        }

        [Test]
        public void SettingsBlocksBreakingARuleAreNamed()
        {
            var block = new byte[256];
            block[32] = 1;
            Assert.IsNull(SystemDataRules.Broken(block));
            block[36] = 2;                                                      // above the field at 32
            StringAssert.Contains("offset 36", SystemDataRules.Broken(block));
            Assert.Throws<ArgumentException>(() => SystemDataRules.Broken(new byte[255]));
        }
    }
}
