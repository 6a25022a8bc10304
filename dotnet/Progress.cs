// Progress of a long transfer, and the native callback that carries it. The
// delegate handed to the library lives in a field of an object the calling
// method holds until the call has returned (and GC.KeepAlive marks that
// point), so a collection during a transfer cannot free the thunk the library
// is about to call. An exception thrown by the host's IProgress cannot cross
// the native frames: it is kept and rethrown once the call has returned. A
// command sent from inside a report is refused: it would be framed in the
// middle of the transaction that is running.
using System;
using System.Runtime.ExceptionServices;
using Pq640.Interop;

namespace Pq640
{
    /// <summary>Where a transfer stands: entry <see cref="Index"/> of <see cref="Total"/>
    /// (Index == Total once the last entry has arrived).</summary>
    public struct Progress : IEquatable<Progress>
    {
        public Progress(uint total, uint index)
        {
            Total = total;
            Index = index;
        }

        public uint Total { get; }
        public uint Index { get; }

        public bool Equals(Progress other) => other.Total == Total && other.Index == Index;
        public override bool Equals(object obj) => obj is Progress && Equals((Progress)obj);
        public override int GetHashCode() => (int)(Total * 31 + Index);
        public override string ToString() => Index + "/" + Total;
    }

    /// <summary>One library call's progress callback.</summary>
    internal sealed class NativeProgress
    {
        readonly IProgress<Progress> report;
        readonly Func<uint, uint, Progress?> translate;
        Exception error;
        bool reachedEnd;

        /// <summary>The delegate to pass; null when the host asked for no progress,
        /// so the library skips the calls altogether.</summary>
        internal PQ640_ProgressCallback Callback { get; }

        /// <param name="report">the host's progress, or null for none.</param>
        /// <param name="translate">maps the library's (total, index) to the host's
        /// report, or to null to leave a call out.</param>
        internal NativeProgress(IProgress<Progress> report, Func<uint, uint, Progress?> translate = null)
        {
            this.report = report;
            this.translate = translate ?? ((total, index) => new Progress(total, index));
            Callback = report == null ? null : new PQ640_ProgressCallback(Called);
        }

        /// <summary>True on a thread while it runs a host's report from inside a library
        /// call: a command sent then would land in the middle of the running transaction.</summary>
        [ThreadStatic] internal static bool Reporting;

        void Called(uint total, uint index)
        {
            if (error != null) return;
            try
            {
                var progress = translate(total, index);
                if (progress == null) return;
                reachedEnd |= progress.Value.Index == progress.Value.Total;
                Reporting = true;
                report.Report(progress.Value);
            }
            catch (Exception caught)
            {
                error = caught;
            }
            finally
            {
                Reporting = false;
            }
        }

        /// <summary>Call right after the library call: keeps the delegate alive up to
        /// here and rethrows what the host's progress threw.</summary>
        internal void Returned()
        {
            GC.KeepAlive(Callback);
            if (error != null) ExceptionDispatchInfo.Capture(error).Throw();
        }

        /// <summary>After a successful transfer of <paramref name="total"/> entries:
        /// the closing report, unless the library already gave it.</summary>
        internal void Finished(uint total)
        {
            if (report == null || reachedEnd) return;
            reachedEnd = true;
            report.Report(new Progress(total, total));
        }
    }
}
