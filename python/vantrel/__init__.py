"""Python binding of libVantrel, the library of the Orvanta MTR-771A fingerprint reader.

    import vantrel
    port = vantrel.detect()
    reader = vantrel.Reader(port)
    template = reader.template()          # three captures, nibble text (str)
    probe = reader.feature()
    print(vantrel.score(template, probe), vantrel.match(template, probe, level=5))

Records are taken as nibble text (str of 512 characters), base64 text (str of 344) or
the 256 raw bytes, and returned as nibble text. Images are 152 x 200 grey pixels in
display form: bytes of 30400, or numpy arrays of shape (200, 152) when numpy is present.
Every failure raises VantrelError, carrying the library's code and its meaning. Ctrl-C
during a capture's finger wait cancels it (FPICancle) and raises KeyboardInterrupt.

The library is found through VANTREL_LIBRARY (a path), else the system's search path.
VANTREL_SIMULATOR=disk (set before the import) runs against the stand-in reader.
"""

import base64
import ctypes
import threading

from . import _library

__all__ = [
    "VantrelError", "Reader", "lib", "detect", "cancel", "set_param", "score", "match",
    "extract", "enroll", "merge", "quality", "bmp_feature", "bmp_template", "to_nibble",
    "to_bytes", "to_base64", "meaning", "CODES", "WIDTH", "HEIGHT", "IMAGE_BYTES",
]

WIDTH, HEIGHT = 152, 200
IMAGE_BYTES = WIDTH * HEIGHT
RECORD_BYTES = 256
_TEXT_BUFFER = 513
_VERSION_BUFFER = 2112
_SEARCH_BUFFER = 1056

# Result codes of the library. Several layers share a number; each names all it means.
CODES = {
    0: "success",
    -1: "failed: not served on this port, finger wait cancelled or timed out, dialog "
        "failed, extraction, synthesis or BMP file failure, no match at the level, or the "
        "reply was not received",
    -2: "a record does not unseal, or sending to the reader failed",
    -3: "port outside 0..9, the two records are the same text, the dialog was cancelled, "
        "or the reader did not reply",
    -4: "the reply's length is not the expected one",
    -5: "the reply does not start with 0x02",
    -6: "the reply's checksum does not match",
    -7: "the reply does not end with 0x03",
    -8: "template synthesis failed, or the reader answered with an error status",
    -9: "feature extraction failed during a capture",
    -10: "no reader found, or the port cannot be opened",
    -11: "the reader is busy, or it did not answer in time",
    -12: "the reply is longer than its buffer and was refused",
    -99: "an algorithm failed unexpectedly, or a base64 text was refused",
}


def meaning(code):
    """The meaning of a result code in words."""
    if code > 0:
        return "success (a value)"
    return CODES.get(code, "an error code of the reader's link")


class VantrelError(Exception):
    """A library call answered a failure code."""

    def __init__(self, call, code):
        self.call = call
        self.code = code
        self.meaning = meaning(code)
        super().__init__(f"{call} answered {code}: {self.meaning}")


lib = _library.load()

try:
    import numpy as _np
except ImportError:  # arrays are optional
    _np = None


def _check(call, code):
    if code < 0:
        raise VantrelError(call, code)
    return code


# ---- Records --------------------------------------------------------------------

_NIBBLE = frozenset(range(0x30, 0x40))


def to_bytes(record):
    """The 256 raw bytes of a record given as nibble text, base64 text or raw bytes."""
    if isinstance(record, (bytes, bytearray, memoryview)):
        data = bytes(record)
        if len(data) == RECORD_BYTES:
            return data
        text = data.rstrip()
    elif isinstance(record, str):
        text = record.rstrip().encode("ascii", "replace")
    else:
        raise TypeError("a record is str (nibble or base64 text) or bytes")
    if len(text) == 2 * RECORD_BYTES and all(c in _NIBBLE for c in text):
        return bytes(((text[2 * i] & 15) << 4) | (text[2 * i + 1] & 15)
                     for i in range(RECORD_BYTES))
    if len(text) == 344:
        try:
            data = base64.b64decode(text, validate=True)
        except ValueError:
            data = b""
        if len(data) == RECORD_BYTES:
            return data
    raise ValueError(f"not a record: need 256 raw bytes, 512 characters of nibble text or "
                     f"344 of base64 text (got {len(text)})")


def to_nibble(record):
    """A record as nibble text (str of 512 characters '0'..'?')."""
    return "".join(chr(0x30 + (b >> 4)) + chr(0x30 + (b & 15)) for b in to_bytes(record))


def to_base64(record):
    """A record as base64 text (str of 344 characters)."""
    return base64.b64encode(to_bytes(record)).decode("ascii")


def _text_arg(record):
    return to_nibble(record).encode("ascii")  # ctypes passes it with a terminator


def _text_result(buffer, length):
    if length.value != 512:
        raise VantrelError(f"record of {length.value} characters", -1)
    return buffer.raw[:512].decode("ascii")


# ---- Images ---------------------------------------------------------------------

def _image_arg(image):
    if _np is not None and isinstance(image, _np.ndarray):
        if image.shape != (HEIGHT, WIDTH) or image.dtype != _np.uint8:
            raise ValueError("an image array is uint8 of shape (200, 152)")
        return _np.ascontiguousarray(image).tobytes()
    data = bytes(image)
    if len(data) != IMAGE_BYTES:
        raise ValueError(f"an image is {IMAGE_BYTES} bytes, got {len(data)}")
    return data


def _image_result(data, as_array):
    if as_array:
        if _np is None:
            raise RuntimeError("numpy is not installed")
        return _np.frombuffer(data, dtype=_np.uint8).reshape(HEIGHT, WIDTH).copy()
    return data


# ---- Calls that wait for a finger -----------------------------------------------

def _cancellable(function, *args):
    """Runs a call that may wait for a finger on a worker thread, so that Ctrl-C in the
    calling thread can cancel the wait (FPICancle) before KeyboardInterrupt goes on."""
    outcome = {}

    def run():
        try:
            outcome["rc"] = function(*args)
        except Exception as error:  # handed to the calling thread
            outcome["error"] = error

    worker = threading.Thread(target=run, daemon=True)
    worker.start()
    try:
        while worker.is_alive():
            worker.join(0.05)
    except KeyboardInterrupt:
        lib.FPICancle()
        worker.join()
        raise
    if "error" in outcome:
        raise outcome["error"]
    return outcome["rc"]


# ---- Module functions -----------------------------------------------------------

def detect():
    """The port the reader answers on: 0 (USB disk), 9 (USB HID) or 1..8 (serial)."""
    return _check("FPIDevDetect()", lib.FPIDevDetect())


def cancel():
    """Ends a running finger wait."""
    lib.FPICancle()


def set_param(dialog=False, baud=9600):
    """Dialog mode on or off, and the serial baud rate (115200, else 9600)."""
    lib.FPISetParam(1 if dialog else 0, baud)


def score(a, b):
    """The matcher's score of two records (level 0 has threshold 0, so the score itself)."""
    return _check("FPIVerifyAsc", lib.FPIVerifyAsc(_text_arg(a), _text_arg(b), 0))


def match(a, b, level=5):
    """True when the two records match at the security level (0..9)."""
    rc = lib.FPIFpMatch(_text_arg(a), _text_arg(b), level)
    if rc == -1:
        return False
    _check("FPIFpMatch", rc)
    return True


def quality(record):
    """The quality value (0..255) of a feature record."""
    return _check("FPIGetFeatureQuality", lib.FPIGetFeatureQuality(to_bytes(record)))


def extract(image):
    """The feature record (nibble text) of an image in display form."""
    buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
    _check("FPIExtract", lib.FPIExtract(_image_arg(image), buffer, ctypes.byref(length)))
    return _text_result(buffer, length)


def enroll(image1, image2, image3):
    """A template (nibble text) from three images in display form."""
    buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
    _check("FPIEnroll", lib.FPIEnroll(_image_arg(image1), _image_arg(image2),
                                      _image_arg(image3), buffer, ctypes.byref(length)))
    return _text_result(buffer, length)


def merge(feature1, feature2, feature3):
    """A template (nibble text) from three feature records."""
    buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
    _check("FPIGetTemplateByFeature",
           lib.FPIGetTemplateByFeature(_text_arg(feature1), _text_arg(feature2),
                                       _text_arg(feature3), buffer, ctypes.byref(length)))
    return _text_result(buffer, length)


def bmp_feature(path):
    """The feature record of a BMP file."""
    buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
    _check("FPIBmp2Feature", lib.FPIBmp2Feature(0, str(path).encode(), buffer,
                                                ctypes.byref(length)))
    return _text_result(buffer, length)


def bmp_template(path1, path2, path3):
    """A template from three BMP files."""
    buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
    _check("FPIBmp2Template", lib.FPIBmp2Template(0, str(path1).encode(), str(path2).encode(),
                                                  str(path3).encode(), buffer,
                                                  ctypes.byref(length)))
    return _text_result(buffer, length)


# ---- The reader -----------------------------------------------------------------

class Reader:
    """The reader on one port: 0 USB disk (default), 9 USB HID, 1..8 serial COM n."""

    def __init__(self, port=0):
        self.port = port

    def _call(self, name, *args):
        return _check(f"{name}({self.port})", getattr(lib, name)(self.port, *args))

    def _int_out(self, name):
        value = ctypes.c_int(0)
        self._call(name, ctypes.byref(value))
        return value.value

    def _record(self, name, text_form=True):
        buffer, length = ctypes.create_string_buffer(_TEXT_BUFFER), ctypes.c_int(0)
        rc = _cancellable(getattr(lib, name), self.port, buffer, ctypes.byref(length))
        _check(f"{name}({self.port})", rc)
        if text_form:
            return _text_result(buffer, length)
        return buffer.raw[:344].decode("ascii")

    # Device and settings
    def reset(self):
        self._call("FPIReset")

    def version(self):
        """The reader's version bytes."""
        buffer, length = ctypes.create_string_buffer(_VERSION_BUFFER), ctypes.c_int(0)
        self._call("FPIGetVersion", buffer, ctypes.byref(length))
        return buffer.raw[:max(0, min(length.value, _VERSION_BUFFER))]

    def finger(self):
        """True when a finger lies on the sensor (port 0 only)."""
        return self._call("FPICheckFinger") == 0

    @property
    def level(self):
        return self._int_out("FPIGetSecurityLevel")

    @level.setter
    def level(self, value):
        self._call("FPISetSecurityLevel", value)

    # Captures
    def feature(self):
        """One capture as a feature record (nibble text); waits for a finger."""
        return self._record("FPIFeature")

    def template(self):
        """Three captures merged into a template (nibble text); waits for a finger."""
        return self._record("FPITemplate")

    def feature_b64(self):
        return self._record("FPIFeatureB64", text_form=False)

    def template_b64(self):
        return self._record("FPITemplateB64", text_form=False)

    def image(self, as_array=False):
        """A captured image in display form: bytes, or a (200, 152) array."""
        buffer = ctypes.create_string_buffer(IMAGE_BYTES)
        width, height = ctypes.c_int(0), ctypes.c_int(0)
        self._call("FPIGetImageData", ctypes.byref(width), ctypes.byref(height), buffer)
        if width.value * height.value != IMAGE_BYTES:
            raise VantrelError(f"image of {width.value} x {height.value}", -1)
        return _image_result(buffer.raw, as_array)

    def save_bmp(self, path):
        """Captures an image into a BMP file."""
        self._call("FPIImg2Bmp", str(path).encode())

    # The reader's template library
    def count(self):
        return self._int_out("FPIGetMBLibCount")

    def clear(self):
        self._call("FPIClearMBLib")

    def insert(self, identifier, template, data=b""):
        text = _text_arg(template)
        self._call("FPIInsertMBLib", identifier, bytes(data), len(data), text, len(text))

    def store(self):
        self._call("FPIWriteMBLib")

    def search(self, first=0, second=0xFFFF):
        """The reader's search answer (bytes)."""
        buffer, length = ctypes.create_string_buffer(_SEARCH_BUFFER), ctypes.c_int(0)
        self._call("FPISearch", first, second, buffer, ctypes.byref(length))
        return buffer.raw[:max(0, min(length.value, _SEARCH_BUFFER))]

    # Firmware
    def update(self, firmware, packet_size=1024, finish=1, progress=None):
        """Stepwise firmware update; progress(sent, total) after every packet."""
        firmware = bytes(firmware)
        self._call("FPIUpdate_SendFileSize", len(firmware))
        for number, start in enumerate(range(0, len(firmware), packet_size)):
            packet = firmware[start:start + packet_size]
            self._call("FPIUpdate_SendPacket", number, packet, len(packet))
            if progress is not None:
                progress(start + len(packet), len(firmware))
        self._call("FPIUpdate_Write", finish)
