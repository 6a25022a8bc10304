// Result codes and their meaning in words. The texts read exactly as
// PQ640_ResultText in the C header (a header-only helper the library does not
// export), so a .NET host and a C host report a failure in the same words; a
// test compiles the header and compares every code from -300 to 300.
namespace Pq640
{
    public static class ResultCodes
    {
        public const int Ok = 0;
        public const int ShortRead = 242;
        public const int OutOfRange = 243;
        public const int OpenFailed = -1;
        public const int CloseFailed = -2;
        public const int PortRefused = -3;
        public const int NoSerialPort = -4;
        public const int SocketFailed = -10;
        public const int TcpFailed = -12;
        public const int NoSocket = -13;
        public const int SendFailed = -14;
        public const int ReadFailed = -100;
        public const int WrongTerminal = -101;
        public const int BadChecksum = -102;
        public const int InvalidArgument = -104;
        public const int BufferTooSmall = -105;

        /// <summary>The meaning of a result code in words, as the C header words it.</summary>
        public static string Text(int code)
        {
            switch (code)
            {
                case Ok: return "success";
                case ShortRead:
                    return "the answer was cut short (a serial read timed out part-way), or the terminal's " +
                           "result byte 242";
                case OutOfRange:
                    return "an argument is out of range (terminal ID, communication mode, settings block, " +
                           "record field or batch size), or the terminal's result byte 243";
                case OpenFailed: return "the serial port could not be opened";
                case CloseFailed: return "there was nothing to close, or closing failed";
                case PortRefused:
                    return "the serial port refused its settings or is not open, or the link settings are " +
                           "invalid";
                case NoSerialPort: return "no serial port number is set";
                case SocketFailed: return "no TCP socket could be created";
                case TcpFailed: return "the terminal did not answer in time, or the socket layer failed";
                case NoSocket: return "there is no TCP connection";
                case SendFailed: return "sending to the terminal failed";
                case ReadFailed:
                    return "connecting failed, the connection was closed, or nothing could be read";
                case WrongTerminal: return "a terminal with another ID answered";
                case BadChecksum: return "the answer's checksum did not match";
                case InvalidArgument:
                    return "an invalid argument (address, line settings or date), or the terminal sent a " +
                           "value out of range";
                case BufferTooSmall:
                    return "the terminal announced more entries than the array holds; the count says how " +
                           "many (records may have arrived since the count was read)";
            }
            if (code > 0 && code <= 255) return "the terminal's own result byte: it refused or failed";
            return "an unknown result code";
        }
    }
}
