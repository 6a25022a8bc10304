// One terminal, over TCP or a serial line. The library holds a single
// connection state for the whole process, so only one Terminal may be open at
// a time: opening a second throws instead of silently re-pointing the first.
// Every library call, and every operation made of several calls (count, then
// read), holds one process-wide lock, so threads sharing a terminal cannot
// interleave their frames.
using System;
using System.Text.RegularExpressions;
using Pq640.Interop;

namespace Pq640
{
    public sealed partial class Terminal : IDisposable
    {
        static readonly object Sync = new object();
        static Terminal active;
        static readonly Regex AddressForm = new Regex(@"\A[0-9]{1,3}(\.[0-9]{1,3}){3}\z", RegexOptions.CultureInvariant);

        readonly ushort link;
        readonly string address;
        readonly ushort port;
        uint commState;
        byte terminalId;

        Terminal(ushort link, string address, ushort port, uint commState, byte terminalId)
        {
            this.link = link;
            this.address = address;
            this.port = port;
            this.commState = commState;
            this.terminalId = terminalId;
            Users = new UserTable(this);
            Admins = new AdminTable(this);
        }

        /// <summary>Opens a terminal at an IPv4 <paramref name="address"/> in dotted decimal
        /// (there is no default address), port 7413. <paramref name="terminalId"/> must be the
        /// terminal's own ID. Dispose it to close the link.</summary>
        /// <exception cref="InvalidOperationException">another Terminal is open in this process.</exception>
        public static Terminal Tcp(string address, byte terminalId = 0)
        {
            var terminal = new Terminal(NativeMethods.LinkTcp, CheckAddress(address), 0, 0, terminalId);
            terminal.Open();
            return terminal;
        }

        /// <summary>Opens a terminal on serial port COM<paramref name="port"/> (1..10; on Linux
        /// /dev/COMn when it exists, else /dev/ttyS(n-1)) at <paramref name="baudCode"/> 0..6
        /// (2400, 4800, 9600, 19200, 38400, 57600, 115200 baud).</summary>
        public static Terminal Serial(int port, int baudCode = 2, byte terminalId = 0)
        {
            if (port < 1 || port > 10) throw new ArgumentOutOfRangeException(nameof(port), port, "serial port must be 1..10");
            if (baudCode < 0 || baudCode > 6)
                throw new ArgumentOutOfRangeException(nameof(baudCode), baudCode, "baud code must be 0..6");
            var terminal = new Terminal(NativeMethods.LinkSerial, null, (ushort)port, (uint)baudCode, terminalId);
            terminal.Open();
            return terminal;
        }

        static string CheckAddress(string address)
        {
            if (address == null) throw new ArgumentNullException(nameof(address));
            // The library's own rule: four decimal fields, leading zeros decimal, and the
            // two broadcast-like addresses are no terminal.
            var valid = AddressForm.IsMatch(address);
            if (valid)
            {
                var fields = Array.ConvertAll(address.Split('.'), int.Parse);
                valid = Array.TrueForAll(fields, f => f <= 255) && !Array.TrueForAll(fields, f => f == 0) &&
                        !Array.TrueForAll(fields, f => f == 255);
            }
            if (!valid)
                throw new ArgumentException("address must be four decimal fields 0..255 such as \"127.0.0.1\", got \"" +
                                            address + "\"", nameof(address));
            return address;
        }

        /// <summary>The user table.</summary>
        public Enrolments<User> Users { get; }
        /// <summary>The administrator table.</summary>
        public Enrolments<Admin> Admins { get; }

        /// <summary>The lock every call holds; hold it to run several operations as one.</summary>
        public static object SyncRoot => Sync;

        public bool IsOpen
        {
            get { lock (Sync) return active == this; }
        }

        /// <summary>The ID requests are addressed to (follows <see cref="ChangeTerminalId"/>).</summary>
        public byte TerminalId => terminalId;

        /// <summary>The serial port's line-setting word (follows <see cref="UpdateCommState"/>).</summary>
        public uint CommState => commState;

        void Open()
        {
            lock (Sync)
            {
                if (NativeProgress.Reporting)
                    throw new InvalidOperationException("a progress report cannot open a terminal");
                if (active != null)
                    throw new InvalidOperationException("the library holds one connection per process and " + active +
                                                        " is open: dispose it before opening " + this);
                Raw("SetPortAndCommState", NativeMethods.PQ640_SetPortAndCommState(link, port, commState));
                Raw("SetTerminalID", NativeMethods.PQ640_SetTerminalID(terminalId));
                // Always set: the library's default address must never be used.
                if (link == NativeMethods.LinkTcp) Raw("SetTerminalIPAddr", NativeMethods.PQ640_SetTerminalIPAddr(address));
                Raw("OpenPort", NativeMethods.PQ640_OpenPort());
                active = this;
            }
        }

        /// <summary>Closes the link; throws when closing fails. Dispose does the same
        /// without throwing.</summary>
        public void Close()
        {
            lock (Sync)
            {
                if (active != this) return;
                RequireOpen("ClosePort");
                active = null;
                Raw("ClosePort", NativeMethods.PQ640_ClosePort());
            }
        }

        public void Dispose()
        {
            try
            {
                Close();
            }
            catch (Pq640Exception)
            {
                // The port is forgotten either way; a failed close has nothing left to undo.
            }
        }

        public override string ToString()
        {
            var where = link == NativeMethods.LinkTcp ? "TCP " + address : "serial COM" + port;
            return "Terminal(" + where + ", ID " + terminalId + ")";
        }

        // ---- Calling the library --------------------------------------------------

        static void Raw(string operation, int code)
        {
            if (code != 0) throw Pq640Exception.For(code, operation);
        }

        internal void RequireOpen(string operation)
        {
            if (NativeProgress.Reporting)
                throw new InvalidOperationException(operation + ": a progress report cannot send commands " +
                                                    "while the transfer that reports runs");
            if (active != this)
                throw new ObjectDisposedException(ToString(), operation + ": the terminal is not open");
        }

        /// <summary>One library call on this open terminal, under the lock.</summary>
        internal void Call(string operation, Func<int> call)
        {
            lock (Sync)
            {
                RequireOpen(operation);
                Raw(operation, call());
            }
        }

        // ---- Link and terminal control -------------------------------------------

        /// <summary>Runs a bare transaction: returns when the terminal answers.</summary>
        public void CheckLink() => Call("CheckLink", NativeMethods.PQ640_CheckLink);

        /// <summary>Wakes a sleeping terminal on a serial line (about 5 s); returns at once over TCP.</summary>
        public void WakeUp() => Call("WakeUp", NativeMethods.PQ640_WakeUp);

        /// <summary>The terminal's clock (no time zone; Kind Unspecified). Setting it takes
        /// 2000..2099, drops fractions of a second and converts a UTC value to local time.</summary>
        public DateTime Clock
        {
            get
            {
                var clock = default(PQ640_DateTime);
                Call("GetDateTime", () => NativeMethods.PQ640_GetDateTime(out clock));
                var value = ClockValue.FromNative(clock);
                if (value == null) throw new ProtocolException(ResultCodes.InvalidArgument, "GetDateTime", "invalid clock");
                return value.Value;
            }
            set
            {
                var clock = ClockValue.ToNative(value, nameof(Clock));
                Call("SetDateTime", () => NativeMethods.PQ640_SetDateTime(ref clock));
            }
        }

        /// <summary>The 256-byte settings block (numbers little-endian). Setting it refuses a
        /// block that breaks a range rule before sending, naming the offset.</summary>
        public byte[] SystemData
        {
            get
            {
                var block = new PQ640_SystemData { Bytes = new byte[NativeMethods.SystemDataSize] };
                Call("GetSystemData", () => NativeMethods.PQ640_GetSystemData(ref block));
                return block.Bytes;
            }
            set
            {
                var broken = SystemDataRules.Broken(value);
                if (broken != null) throw new ArgumentException("settings block: " + broken, nameof(SystemData));
                var block = new PQ640_SystemData { Bytes = (byte[])value.Clone() };
                Call("SetSystemData", () => NativeMethods.PQ640_SetSystemData(ref block));
            }
        }

        /// <summary>Gives the terminal a new line-setting word: baud code 0..4 in bits 0-3, a
        /// field 0..4 in bits 4-6 and a field 0..1 in bits 7-8. The local serial port follows.</summary>
        public void UpdateCommState(uint word)
        {
            if (word > 0x1FF || (word & 0xF) > 4 || ((word >> 4) & 0x7) > 4)
                throw new ArgumentOutOfRangeException(nameof(word), word,
                                                      "baud code 0..4 in bits 0-3, 0..4 in bits 4-6, 0..1 in bits 7-8");
            Call("UpdateCommState", () => NativeMethods.PQ640_UpdateCommState(word));
            commState = word;
        }

        /// <summary>Gives the terminal a new ID; later requests use it.</summary>
        public void ChangeTerminalId(byte newId)
        {
            lock (Sync)
            {
                Call("ChangeTerminalID", () => NativeMethods.PQ640_ChangeTerminalID(newId));
                terminalId = newId;
            }
        }

        /// <summary>The terminal's communication mode, 0..2.</summary>
        public void SetCommMode(byte mode)
        {
            if (mode > 2) throw new ArgumentOutOfRangeException(nameof(mode), mode, "communication mode must be 0..2");
            Call("SetTermCommMode", () => NativeMethods.PQ640_SetTermCommMode(mode));
        }

        /// <summary>The terminal's matching-performance value, passed on as is.</summary>
        public void SetMatching(byte value) => Call("SetMatchingPerform", () => NativeMethods.PQ640_SetMatchingPerform(value));

        /// <summary>Erases users, administrators, both logs and the settings. Refused unless
        /// <paramref name="confirm"/> is true.</summary>
        public void Erase(bool confirm)
        {
            if (!confirm) throw new ArgumentException("Erase wipes the terminal: pass confirm: true", nameof(confirm));
            Call("DeleteAllDataRom", NativeMethods.PQ640_DeleteAllDataRom);
        }
    }
}
