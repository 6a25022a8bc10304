// The binding against the public header: record sizes and offsets, every
// export declared and present in the library, and the result texts and
// settings rules equal to the header's helpers (compiled and run).
using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using NUnit.Framework;
using Pq640.Interop;

namespace Pq640.Tests
{
    [TestFixture]
    public class HeaderTests
    {
        static string IncludeDir => Path.Combine(Environment.GetEnvironmentVariable("PQ640_SOURCE") ?? ".", "include");
        static string Header => Path.Combine(IncludeDir, "pq640", "pq640.h");

        [Test]
        public void RecordsHaveTheHeadersSizesAndOffsets()
        {
            Assert.AreEqual(6, Marshal.SizeOf(typeof(PQ640_DateTime)));
            Assert.AreEqual(256, Marshal.SizeOf(typeof(PQ640_SystemData)));
            Assert.AreEqual(988, Marshal.SizeOf(typeof(PQ640_UserData)));
            Assert.AreEqual(988, Marshal.SizeOf(typeof(PQ640_AdminData)));
            Assert.AreEqual(16, Marshal.SizeOf(typeof(PQ640_IORecord)));
            Assert.AreEqual(16, Marshal.SizeOf(typeof(PQ640_AdminRecord)));
            Assert.AreEqual(18, Marshal.SizeOf(typeof(PQ640_RecordQuery)));
            var user = new[] { 0, 4, 5, 965, 966, 976, 986 };
            var admin = new[] { 0, 4, 5, 6, 966, 967, 977, 986 };
            Assert.AreEqual(user, typeof(PQ640_UserData).GetFields().Select(f => Offset<PQ640_UserData>(f.Name)));
            Assert.AreEqual(admin, typeof(PQ640_AdminData).GetFields().Select(f => Offset<PQ640_AdminData>(f.Name)));
            Assert.AreEqual(6, Offset<PQ640_IORecord>("Data"));
        }

        static int Offset<T>(string field) => Marshal.OffsetOf(typeof(T), field).ToInt32();

        [Test]
        public void EveryExportIsDeclaredAndPresent()
        {
            var exported = Regex.Matches(File.ReadAllText(Header), @"PQ640_API PQ640_ResultCode PQ640_CALL (PQ640_\w+)\(")
                                .Cast<Match>().Select(m => m.Groups[1].Value).OrderBy(n => n).ToList();
            var methods = typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)
                                               .Where(m => m.GetCustomAttributes(typeof(DllImportAttribute), false).Any())
                                               .ToList();
            Assert.AreEqual(44, exported.Count);
            Assert.AreEqual(exported, methods.Select(m => m.Name).Distinct().OrderBy(n => n).ToList());
            foreach (var method in methods)
            {
                var import = (DllImportAttribute)method.GetCustomAttributes(typeof(DllImportAttribute), false)[0];
                Assert.AreEqual(CallingConvention.StdCall, import.CallingConvention, method.Name);
                Assert.AreEqual(typeof(int), method.ReturnType, method.Name);
                Marshal.Prelink(method);            // throws when the library lacks the entry point
            }
        }

        const string Program = @"
#include <stdio.h>
#include ""pq640/pq640.h""
int main(void) {
  int code, i;
  for (code = -300; code <= 300; ++code) printf(""%d\t%s\n"", code, PQ640_ResultText(code));
  for (i = 0; i < PQ640_SYSTEM_DATA_RULE_COUNT; ++i) {
    const PQ640_SystemDataRule* r = &PQ640_SystemDataRules()[i];
    printf(""rule\t%u %u %u %u %u\n"", r->offset, r->width, r->limit_offset, r->low, r->high);
  }
  return 0;
}
";

        static string[] HeaderOutput()
        {
            var compiler = Environment.GetEnvironmentVariable("PQ640_CC") ?? "cc";
            var work = Path.Combine(Path.GetTempPath(), "pq640-dotnet-" + Process.GetCurrentProcess().Id);
            Directory.CreateDirectory(work);
            try
            {
                File.WriteAllText(Path.Combine(work, "texts.c"), Program);
                Tool.Run(compiler, "-std=c99 -I " + IncludeDir + " -o " + work + "/texts " + work + "/texts.c");
                return Tool.Run(Path.Combine(work, "texts"), "").Split('\n').Where(l => l.Length > 0).ToArray();
            }
            finally
            {
                Directory.Delete(work, true);
            }
        }

        [Test]
        public void ResultTextsAndSettingsRulesMatchTheHeader()
        {
            var output = HeaderOutput();
            var texts = output.Where(l => !l.StartsWith("rule")).Select(l => l.Split('\t')).ToList();
            Assert.AreEqual(601, texts.Count);
            foreach (var line in texts) Assert.AreEqual(line[1], ResultCodes.Text(int.Parse(line[0])), line[0]);
            var rules = output.Where(l => l.StartsWith("rule")).Select(l => l.Split('\t')[1]).ToList();
            Assert.AreEqual(rules, SystemDataRules.Rules.Select(r => string.Join(" ", r)).ToList());
        }
    }
}
