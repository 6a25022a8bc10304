// The fixed-layout records of include/pq640/pq640.h, byte for byte. Every
// struct is packed to one byte; the tests assert each size against the header
// (6, 256, 988, 988, 16, 16, 18). Fixed arrays are ByValArray fields: a struct
// whose array field is null marshals as zeros, one of the wrong length is
// refused by the marshaller, so the layout cannot drift.
using System.Runtime.InteropServices;

namespace Pq640.Interop
{
    /// <summary>The terminal clock: year within the century (0..99 = 2000..2099),
    /// month, day, hour, minute, second, as binary values.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_DateTime
    {
        public byte Year;
        public byte Month;
        public byte Day;
        public byte Hour;
        public byte Minute;
        public byte Second;
    }

    /// <summary>The 256-byte settings block, read and written whole.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_SystemData
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.SystemDataSize)]
        public byte[] Bytes;
    }

    /// <summary>One enrolled user in a 988-byte slot. <c>Templates</c> holds both
    /// 480-byte template places one after the other.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_UserData
    {
        public uint Id;
        public byte TemplateCount;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.MaxTemplates * NativeMethods.TemplateSize)]
        public byte[] Templates;
        public byte CodeLength;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.MaxCodeLength)]
        public byte[] Code;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 10)]
        public byte[] Info;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 2)]
        public byte[] Reserved;
    }

    /// <summary>One enrolled administrator in a 988-byte slot.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_AdminData
    {
        public uint Id;
        public byte Level;
        public byte TemplateCount;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.MaxTemplates * NativeMethods.TemplateSize)]
        public byte[] Templates;
        public byte CodeLength;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.MaxCodeLength)]
        public byte[] Code;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 9)]
        public byte[] Info;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 2)]
        public byte[] Reserved;
    }

    /// <summary>An IO log record: a time stamp and ten bytes the terminal defines.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_IORecord
    {
        public PQ640_DateTime Time;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 10)]
        public byte[] Data;
    }

    /// <summary>An administrator log record; its layout is the terminal's.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_AdminRecord
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.LogRecordSize)]
        public byte[] Bytes;
    }

    /// <summary>A log query, interpreted by the terminal and passed through unchanged.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PQ640_RecordQuery
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = NativeMethods.QuerySize)]
        public byte[] Bytes;
    }

    /// <summary>Progress of a bulk or log transfer, called with (total, index) on the
    /// caller's thread. Keep the delegate referenced until the call returns.</summary>
    [UnmanagedFunctionPointer(CallingConvention.StdCall)]
    public delegate void PQ640_ProgressCallback(uint total, uint index);
}
