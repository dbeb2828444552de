import os
import pathlib
import re
import signal
import threading
import time

import pytest

import vantrel
from vantrel import _library

HEADER = pathlib.Path(__file__).parents[2] / "include" / "vantrel" / "vantrel.h"


def test_every_export_of_the_header_is_declared_with_its_arguments():
    text = re.sub(r"/\*.*?\*/", "", HEADER.read_text(), flags=re.S)
    declared = {}
    for name, args in re.findall(r"int\s+(?:FPI_CALL\s+)?(FPI\w+)\s*\(([^)]*)\)", text):
        declared[name] = 0 if args.strip() in ("", "void") else args.count(",") + 1
    assert len(declared) == 50
    assert {n: len(a) for n, a in _library.SIGNATURES.items()} == declared


def test_reader_settings_and_library_on_the_stand_in():
    assert vantrel.detect() == 0
    reader = vantrel.Reader(0)
    assert reader.version().startswith(b"MTR-771A")
    reader.level = 3
    assert reader.level == 3
    reader.clear()
    record = bytes(range(256))
    reader.insert(7, record, data=b"alice")
    assert reader.count() == 1
    assert b"7" in reader.search()
    reader.clear()
    assert reader.count() == 0


@pytest.mark.parametrize("call, code", [
    (lambda: vantrel.Reader(10).feature(), -3),        # port outside 0..9
    (lambda: vantrel.Reader(5).finger(), -1),          # finger state: port 0 only
    (lambda: vantrel.quality(bytes(256)), -2),         # does not unseal
    (lambda: vantrel.score("0" * 512, "0" * 512), -3),  # the same text twice
])
def test_failures_raise_one_error_with_code_and_meaning(call, code):
    with pytest.raises(vantrel.VantrelError) as caught:
        call()
    assert caught.value.code == code
    assert caught.value.meaning == vantrel.CODES[code]
    assert str(code) in str(caught.value)


def test_record_forms_convert_into_each_other():
    record = bytes((i * 37 + 11) % 256 for i in range(256))
    nibble = vantrel.to_nibble(record)
    assert nibble == "".join(chr(0x30 + (b >> 4)) + chr(0x30 + (b & 15)) for b in record)
    for form in (record, nibble, nibble + "\n", vantrel.to_base64(record),
                 nibble.encode()):
        assert vantrel.to_bytes(form) == record
    for bad in (record[:255], nibble[:511], "x" * 512, "@" * 344):
        with pytest.raises(ValueError):
            vantrel.to_bytes(bad)


def test_images_as_bytes_and_arrays_give_one_record(real_images):
    numpy = pytest.importorskip("numpy")
    first, other = real_images(1, 1), real_images(2, 1)
    array = numpy.frombuffer(first, dtype=numpy.uint8).reshape(200, 152)
    feature = vantrel.extract(first)
    assert vantrel.extract(array) == feature
    template = vantrel.enroll(real_images(1, 2), real_images(1, 3), real_images(1, 4))
    assert vantrel.match(template, feature, level=5)
    assert vantrel.score(template, vantrel.extract(other)) < vantrel.score(template, feature)
    assert vantrel.quality(vantrel.to_base64(feature)) == vantrel.quality(feature)


def test_ctrl_c_cancels_a_finger_wait():
    # Port 9 has no reader here, so the capture waits for a finger that never comes.
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        vantrel.Reader(9).feature()
    timer.join()
    # Ended by the cancel, long before the wait's own 100 s time-out.
    assert time.monotonic() - start < 50
