"""Loading libVantrel and the signature of every export, declared once."""

import ctypes
import ctypes.util
import os

_int = ctypes.c_int
_pint = ctypes.POINTER(ctypes.c_int)
_bytes = ctypes.c_char_p  # caller buffers and texts: bytes, or create_string_buffer
_path = ctypes.c_char_p

# Every export returns an int; these are its arguments, in the order of the header.
SIGNATURES = {
    "FPIDevDetect": [],
    "FPIReset": [_int],
    "FPICheckFinger": [_int],
    "FPIFree": [_int],
    "FPISetWorkMode": [_int, _int],
    "FPIGetWorkMode": [_int, _pint],
    "FPIGetStatus": [_int, _bytes],
    "FPIGetErrorCode": [_int, _bytes],
    "FPIGetVersion": [_int, _bytes, _pint],
    "FPISetSequence": [_int, _bytes],
    "FPIGetSequence": [_int, _bytes],
    "FPISetKey": [_int, _bytes],
    "FPISetSecurityLevel": [_int, _int],
    "FPIGetSecurityLevel": [_int, _pint],
    "FPICalibrate": [_int],
    "FPISetBuadRate": [_int, _int],
    "FPISetParam": [_int, _int],
    "FPIClearMBLib": [_int],
    "FPIInsertMBLib": [_int, _int, _bytes, _int, _bytes, _int],
    "FPIWriteMBLib": [_int],
    "FPIGetMBLibCount": [_int, _pint],
    "FPISearch": [_int, _int, _int, _bytes, _pint],
    "FPIUpdate": [_int, _bytes, _int, _int, _int],
    "FPIUpdate_SendFileSize": [_int, _int],
    "FPIUpdate_SendPacket": [_int, _int, _bytes, _int],
    "FPIUpdate_Write": [_int, _int],
    "FPIFeature": [_int, _bytes, _pint],
    "FPITemplate": [_int, _bytes, _pint],
    "FPIFeatureB64": [_int, _bytes, _pint],
    "FPITemplateB64": [_int, _bytes, _pint],
    "FPIFeature_RED_IZ": [_int, _bytes, _pint],
    "FPITemplate_RED_IZ": [_int, _bytes, _pint],
    "FPIGetTemplateByFeature": [_bytes, _bytes, _bytes, _bytes, _pint],
    "FPICancle": [],
    "FPIFpMatch": [_bytes, _bytes, _int],
    "FPIMatch": [_bytes, _bytes, _int],
    "FPIVerifyAsc": [_bytes, _bytes, _int],
    "FPIFpMatchB64": [_bytes, _bytes, _int],
    "FPIFingerMatch": [_int, _int, _int, _int],
    "FPIGetFeatureQuality": [_bytes],
    "FPIExtract": [_bytes, _bytes, _pint],
    "FPIEnroll": [_bytes, _bytes, _bytes, _bytes, _pint],
    "FPIGetImage": [_int, _pint, _pint],
    "FPIUploadImage": [_int, _int, _int, _bytes],
    "FPIGetImageData": [_int, _pint, _pint, _bytes],
    "FPIGetImageImmediately": [_int, _pint, _pint, _bytes],
    "FPIGetImageData_RED_IZ": [_int, _pint, _pint, _bytes, _pint],
    "FPIImg2Bmp": [_int, _path],
    "FPIBmp2Feature": [_int, _path, _bytes, _pint],
    "FPIBmp2Template": [_int, _path, _path, _path, _bytes, _pint],
}

_CANDIDATES = ("libVantrel.so.0", "libVantrel.so", "Vantrel.dll", "libVantrel.dylib")


def load():
    """The library at VANTREL_LIBRARY, else the first found on the system's search path,
    with every export's signature set."""
    path = os.environ.get("VANTREL_LIBRARY")
    if path:
        lib = ctypes.CDLL(path)
    else:
        lib = None
        found = ctypes.util.find_library("Vantrel")
        for name in ((found,) if found else ()) + _CANDIDATES:
            try:
                lib = ctypes.CDLL(name)
                break
            except OSError:
                continue
        if lib is None:
            raise OSError("libVantrel not found: install it or set VANTREL_LIBRARY to its path")
    for name, argtypes in SIGNATURES.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = ctypes.c_int
    return lib
