// Failures as exceptions. Every non-zero result code becomes a Pq640Exception
// whose class says who failed: the terminal refused (TerminalException), no
// answer or an unusable port (LinkException), or a wrong answer
// (ProtocolException). Arguments are checked before anything is sent and
// refused with ArgumentException / ArgumentOutOfRangeException instead.
using System;

namespace Pq640
{
    /// <summary>A failure the library or the terminal reported. <see cref="Code"/> is
    /// the library's result code, <see cref="Text"/> its meaning (the C header's
    /// PQ640_ResultText), <see cref="Operation"/> the export that failed.</summary>
    public class Pq640Exception : Exception
    {
        public int Code { get; }
        public string Text { get; }
        public string Operation { get; }
        public string Detail { get; }

        public Pq640Exception(int code, string operation, string detail = "")
            : base(Compose(code, operation, detail))
        {
            Code = code;
            Text = ResultCodes.Text(code);
            Operation = operation ?? "";
            Detail = detail ?? "";
        }

        static string Compose(int code, string operation, string detail)
        {
            var message = string.IsNullOrEmpty(operation) ? "" : operation + ": ";
            if (!string.IsNullOrEmpty(detail)) message += detail + ": ";
            return message + ResultCodes.Text(code) + " (result code " + code + ")";
        }

        /// <summary>The exception for a non-zero result code.</summary>
        public static Pq640Exception For(int code, string operation, string detail = "")
        {
            if (code > 0 && code <= 255) return new TerminalException(code, operation, detail);
            switch (code)
            {
                case ResultCodes.OpenFailed:
                case ResultCodes.CloseFailed:
                case ResultCodes.PortRefused:
                case ResultCodes.NoSerialPort:
                case ResultCodes.SocketFailed:
                case ResultCodes.TcpFailed:
                case ResultCodes.NoSocket:
                case ResultCodes.SendFailed:
                case ResultCodes.ReadFailed:
                    return new LinkException(code, operation, detail);
                case ResultCodes.WrongTerminal:
                case ResultCodes.BadChecksum:
                case ResultCodes.InvalidArgument:
                case ResultCodes.BufferTooSmall:
                    return new ProtocolException(code, operation, detail);
            }
            return new Pq640Exception(code, operation, detail);
        }
    }

    /// <summary>The terminal answered with a non-zero result byte (1..255): it refused
    /// or failed the command. On the simulator 7 is an unknown ID, 8 a full table.</summary>
    public class TerminalException : Pq640Exception
    {
        public TerminalException(int code, string operation, string detail = "")
            : base(code, operation, detail) { }
    }

    /// <summary>No answer, the connection failed, or the serial port could not be
    /// used (codes -1 to -100). Check the address, the port and the terminal ID.</summary>
    public class LinkException : Pq640Exception
    {
        public LinkException(int code, string operation, string detail = "")
            : base(code, operation, detail) { }
    }

    /// <summary>The answer was wrong: another terminal ID (-101), a bad checksum
    /// (-102), data out of range (-104), or a terminal that kept announcing more
    /// entries than it had just counted (-105).</summary>
    public class ProtocolException : Pq640Exception
    {
        public ProtocolException(int code, string operation, string detail = "")
            : base(code, operation, detail) { }
    }
}
