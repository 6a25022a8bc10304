// A pq640-sim subprocess for one test: on a loopback address of its own
// (TCP) or behind the /dev/COM9 symlink to its pseudo-terminal (serial), with
// a bounded wait for its ready line, its trace collected, and stopped with
// SIGTERM so it removes its symlink. PQ640_SIM names the simulator.
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Text.RegularExpressions;
using NUnit.Framework;
using Pq640;

namespace Pq640.Tests
{
    public sealed class Simulator : IDisposable
    {
        public const int SerialPort = 9;               // a number no real port here has
        public const string SerialLink = "/dev/COM9";
        static readonly TimeSpan ReadyWait = TimeSpan.FromSeconds(10);
        static int nextAddress;

        readonly Process process;
        readonly BlockingCollection<string> lines = new BlockingCollection<string>();
        readonly ConcurrentQueue<string> trace = new ConcurrentQueue<string>();

        public string Link { get; }
        public string Address { get; }

        public static string Program => Environment.GetEnvironmentVariable("PQ640_SIM") ?? "pq640-sim";

        public Simulator(string link, params string[] options)
        {
            Link = link;
            if (link == "serial") SkipSerialUnlessUsable();
            var n = System.Threading.Interlocked.Increment(ref nextAddress);
            // The process ID in the address keeps clear of a simulator a crashed run left behind.
            var run = Process.GetCurrentProcess().Id % 250;
            Address = link == "tcp" ? "127.68." + run + "." + (n % 250 + 1) : null;
            var where = link == "tcp" ? "--listen " + Address : "--serial --link " + SerialLink;
            var quoted = options.Select(o => o.Contains(" ") ? "\"" + o + "\"" : o);
            // Its error output goes to the test's, where a failed start explains itself.
            var info = new ProcessStartInfo(Program, where + " --trace " + string.Join(" ", quoted))
            {
                UseShellExecute = false, RedirectStandardOutput = true
            };
            process = Process.Start(info);
            process.OutputDataReceived += (sender, e) =>
            {
                if (e.Data == null) lines.CompleteAdding();
                else if (e.Data.StartsWith("request") || e.Data.StartsWith("response")) trace.Enqueue(e.Data);
                else if (!lines.IsAddingCompleted) lines.Add(e.Data);
            };
            process.BeginOutputReadLine();
            string ready;
            if (!lines.TryTake(out ready, ReadyWait) || !ready.StartsWith("pq640-sim: "))
            {
                Dispose();
                throw new InvalidOperationException("pq640-sim " + info.Arguments + " did not start: " +
                                                    (ready ?? "no ready line"));
            }
        }

        static void SkipSerialUnlessUsable()
        {
            if (Tool.Run("id", "-u").Trim() != "0") Assert.Ignore("serial tests create " + SerialLink + " and need root");
            var link = new FileInfo(SerialLink);
            if (link.Exists || Directory.Exists(SerialLink))
            {
                var target = ReadLink(SerialLink);
                if (target == null || !target.StartsWith("/dev/pts/"))
                    Assert.Ignore(SerialLink + " exists and is not a simulator's link: left alone");
            }
        }

        static string ReadLink(string path)
        {
            var target = Tool.Run("readlink", path, check: false).Trim();
            return target.Length == 0 ? null : target;
        }

        /// <summary>A terminal on this simulator, opened.</summary>
        public Terminal Open(byte terminalId = 0)
        {
            return Link == "tcp" ? Terminal.Tcp(Address, terminalId) : Terminal.Serial(SerialPort, 2, terminalId);
        }

        /// <summary>Stops the simulator and gives the commands of its trace, checking that
        /// every request is followed by its own response and nothing else.</summary>
        public List<string> Transactions()
        {
            Stop();                                 // its last lines are all read once it has exited
            var pattern = new Regex(@"^(request|response) +(\w+) \(0x[0-9A-F]{2}\): [0-9A-F ]+$");
            // A request the terminal ignores (another terminal ID) has no response by design.
            var all = trace.Where(line => !line.Contains("[not answered")).ToList();
            var shown = string.Join(" | ", all.Select(line => line.Substring(0, Math.Min(line.Length, 40))));
            Assert.That(all.Count % 2, Is.EqualTo(0), "a request without its response: " + shown);
            var commands = new List<string>();
            for (var i = 0; i < all.Count; i += 2)
            {
                var request = pattern.Match(all[i]);
                var response = pattern.Match(all[i + 1]);
                Assert.That(request.Success && response.Success, "not a frame pair: " + shown);
                Assert.That(request.Groups[1].Value + response.Groups[1].Value, Is.EqualTo("requestresponse"));
                Assert.That(response.Groups[2].Value, Is.EqualTo(request.Groups[2].Value));
                commands.Add(request.Groups[2].Value);
            }
            return commands;
        }

        public void Dispose()
        {
            Stop();
            if (Link == "serial" && ReadLink(SerialLink) != null && !File.Exists(SerialLink)) File.Delete(SerialLink);
            process.Dispose();
        }

        void Stop()
        {
            if (!process.HasExited)
            {
                var info = new ProcessStartInfo("kill", "-TERM " + process.Id) { UseShellExecute = false };
                using (var kill = Process.Start(info)) kill.WaitForExit(5000);
                if (!process.WaitForExit(5000)) process.Kill();
            }
            process.WaitForExit();                  // also waits for the last output lines
        }
    }

    static class Tool
    {
        /// <summary>Runs a program to its end (at most a minute) and returns its output;
        /// with <paramref name="check"/>, a non-zero exit status fails the test.</summary>
        internal static string Run(string program, string arguments, bool check = true)
        {
            var info = new ProcessStartInfo(program, arguments)
            {
                UseShellExecute = false, RedirectStandardOutput = true, RedirectStandardError = true
            };
            using (var process = Process.Start(info))
            {
                var output = process.StandardOutput.ReadToEndAsync();
                var errors = process.StandardError.ReadToEndAsync();
                if (!process.WaitForExit(60000))
                {
                    process.Kill();
                    Assert.Fail(program + " " + arguments + " did not finish within a minute");
                }
                if (check) Assert.AreEqual(0, process.ExitCode, program + " " + arguments + ": " + errors.Result);
                return output.Result;
            }
        }
    }

    /// <summary>Keeps every progress report, running <see cref="Also"/> on each.</summary>
    sealed class Reports : IProgress<Progress>
    {
        public readonly List<Progress> Seen = new List<Progress>();
        public Action<Progress> Also = p => { };

        public void Report(Progress value)
        {
            Seen.Add(value);
            Also(value);
        }
    }

    /// <summary>Stops the simulators a test started.</summary>
    public abstract class SimulatorTests
    {
        readonly List<Simulator> started = new List<Simulator>();

        protected Simulator Start(string link, params string[] options)
        {
            var sim = new Simulator(link, options);
            started.Add(sim);
            return sim;
        }

        [TearDown]
        public void StopSimulators()
        {
            foreach (var sim in started) sim.Dispose();
            started.Clear();
        }
    }
}
