"""Finding, loading and declaring the shared library.

Every export is declared with its exact argument and result types, so ctypes
refuses a Python value of the wrong kind instead of passing something the
library would misread (a ``str`` where a ``char*`` is due, a terminal ID that
would be cut to 16 bits). Every call goes through :func:`call`, which holds
the one process-wide lock: the library keeps one connection state and is not
safe to enter from two threads at once.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Any, Callable, List, Optional

from .errors import LibraryError

LOCK = threading.RLock()
"""Held around every library call and around every multi-call operation."""

_WINDOWS_32 = sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4
if _WINDOWS_32:
    # 32-bit Windows builds use __stdcall for the exports and the callback.
    _FUNCTYPE = ctypes.WINFUNCTYPE  # type: ignore[attr-defined]
    _LOADER: Any = ctypes.WinDLL  # type: ignore[attr-defined]
else:
    _FUNCTYPE = ctypes.CFUNCTYPE
    _LOADER = ctypes.CDLL

ProgressCallback = _FUNCTYPE(None, ctypes.c_uint32, ctypes.c_uint32)

_u8 = ctypes.c_uint8
_u16 = ctypes.c_uint16
_u32 = ctypes.c_uint32
_p = ctypes.c_void_p          # caller memory of the size the header gives
_pu32 = ctypes.POINTER(ctypes.c_uint32)
_cb = ProgressCallback

# The 44 exports of include/pq640/pq640.h with their argument types.
PROTOTYPES = {
    "PQ640_SetPortAndCommState": [_u16, _u16, _u32],
    "PQ640_SetTerminalID": [_u16],
    "PQ640_SetTerminalIPAddr": [ctypes.c_char_p],
    "PQ640_OpenPort": [],
    "PQ640_ClosePort": [],
    "PQ640_WakeUp": [],
    "PQ640_CheckLink": [],
    "PQ640_UpdateCommState": [_u32],
    "PQ640_ChangeTerminalID": [_u16],
    "PQ640_SetTermCommMode": [_u8],
    "PQ640_SetMatchingPerform": [_u8],
    "PQ640_DeleteAllDataRom": [],
    "PQ640_GetDateTime": [_p],
    "PQ640_SetDateTime": [_p],
    "PQ640_GetSystemData": [_p],
    "PQ640_SetSystemData": [_p],
    "PQ640_AddUserData": [_p],
    "PQ640_DeleteUserData": [_u32],
    "PQ640_DeleteAllUserData": [],
    "PQ640_GetUserData": [_p],
    "PQ640_AddAdminData": [_p],
    "PQ640_DeleteAdminData": [_u32],
    "PQ640_DeleteAllAdminData": [],
    "PQ640_GetAdminData": [_p],
    "PQ640_GetAllUserData": [_pu32, _p, _u8, _cb],
    "PQ640_GetAllAdminData": [_pu32, _p, _u8, _cb],
    "PQ640_AddUsersData": [_u32, _p, _p, _cb],
    "PQ640_DeleteUsersData": [_u32, _p, _p, _cb],
    "PQ640_GetUsersData": [_pu32, _p, _p, _cb],
    "PQ640_GetIORecord": [_p, _pu32, _p, _cb],
    "PQ640_GetIORecordNum": [_p, _pu32],
    "PQ640_AddIORecord": [_p],
    "PQ640_DeleteIORecord": [_p],
    "PQ640_GetUsersIORecord": [_u32, _p, _u8, _p, _p, _pu32, _p, _cb],
    "PQ640_GetUsersIORecordNum": [_u32, _p, _u8, _p, _p, _pu32],
    "PQ640_GetAdminRecord": [_p, _pu32, _p, _cb],
    "PQ640_GetAdminRecordNum": [_p, _pu32],
    "PQ640_AddAdminRecord": [_p],
    "PQ640_DeleteAdminRecord": [_p],
    # The capacity-checked reads: the package calls only these to read lists.
    "PQ640_GetAllUserDataBounded": [_u32, _pu32, _p, _u8, _cb],
    "PQ640_GetAllAdminDataBounded": [_u32, _pu32, _p, _u8, _cb],
    "PQ640_GetIORecordBounded": [_p, _u32, _pu32, _p, _cb],
    "PQ640_GetAdminRecordBounded": [_p, _u32, _pu32, _p, _cb],
    "PQ640_GetUsersIORecordBounded": [_u32, _p, _u8, _p, _p, _u32, _pu32, _p, _cb],
}

if sys.platform == "win32":
    _FILE_NAMES = ["pq640.dll"]
elif sys.platform == "darwin":
    _FILE_NAMES = ["libpq640.dylib", "libpq640.1.dylib"]
else:
    _FILE_NAMES = ["libpq640.so", "libpq640.so.1"]

_library: Optional[Any] = None


def _declare(library: Any) -> Any:
    missing = [name for name in PROTOTYPES if not hasattr(library, name)]
    if missing:
        raise LibraryError(None, "the library lacks exports: " + ", ".join(missing),
                           f"loading {getattr(library, '_name', '?')}")
    for name, argtypes in PROTOTYPES.items():
        function = getattr(library, name)
        function.argtypes = argtypes
        function.restype = ctypes.c_int32
    return library


def _candidates() -> List[str]:
    """Where the library is looked for, in order (the environment variable
    is handled apart: when set it is the only place looked)."""
    here = Path(__file__).resolve().parent
    places = [str(here / name) for name in _FILE_NAMES if (here / name).exists()]
    found = ctypes.util.find_library("pq640")
    # Plain names go through the dynamic loader's own search
    # (LD_LIBRARY_PATH, the loader cache, the default directories).
    places.extend(_FILE_NAMES[::-1] if sys.platform != "win32" else _FILE_NAMES)
    if found and found not in places:
        places.append(found)
    return places


def load() -> Any:
    """The loaded and declared library, loaded on first use.

    Looks at ``PQ640_LIBRARY`` when it is set (and nowhere else), then for a
    copy installed beside this package, then on the system's library path.
    Raises :class:`LibraryError` naming every place it tried.
    """
    global _library
    with LOCK:
        if _library is not None:
            return _library
        override = os.environ.get("PQ640_LIBRARY")
        places = [override] if override else _candidates()
        reasons = []
        for place in places:
            try:
                library = _LOADER(place)
            except OSError as error:
                reasons.append(f"{place}: {error}")
                continue
            _library = _declare(library)
            return _library
        if override:
            looked = f"PQ640_LIBRARY={override}"
        else:
            looked = (f"PQ640_LIBRARY (not set), beside the package in {Path(__file__).parent}, "
                      "then the system's library path")
        raise LibraryError(None, "the pq640 shared library could not be loaded; looked at "
                           + looked + "; tried " + "; ".join(reasons)
                           + " (set PQ640_LIBRARY to the library's path)")


def function(name: str) -> Callable[..., int]:
    return getattr(load(), name)
