"""The binding's tests run against the stand-in reader on the disk link. Its fingers
come from the stand-in itself (VANTREL_SIMULATOR_FINGER) when it has them, else from
the real images of VANTREL_FINGERPRINTS_DIR queued into vantrel-sim on a serial port."""
import os
import pathlib
import subprocess
import sys

import pytest

os.environ.setdefault("VANTREL_SIMULATOR", "disk")
os.environ.setdefault("VANTREL_SIMULATOR_FINGER", "1")
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

import vantrel  # noqa: E402

IMAGES = pathlib.Path(os.environ.get("VANTREL_FINGERPRINTS_DIR",
                                     pathlib.Path(__file__).parents[3] / "shared" /
                                     "fingerprints")) / "FVC2002_DB1_B"


def reader_form_image(finger, impression):
    """Image (display form, bytes) of a real finger, 1..10, impression 1..8."""
    data = (IMAGES / f"{100 + finger}_{impression}.pgm").read_bytes()[15:]
    rows = [bytes(255 - p for p in data[r * 152:(r + 1) * 152]) for r in range(200)]
    return b"".join(reversed(rows))


@pytest.fixture
def real_images():
    if not (IMAGES / "101_1.pgm").exists():
        pytest.skip(f"no fingerprint images in {IMAGES}")
    return reader_form_image


class SerialFingers:
    """vantrel-sim on a pseudo-terminal as COM3, with real images queued."""

    def __init__(self, program):
        self.program = program
        self.process = None

    def feed(self, finger, impressions):
        self.stop()
        args = [self.program, "--serial"]
        for i in impressions:
            args += ["--image", str(IMAGES / f"{100 + finger}_{i}.pgm")]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        os.environ["VANTREL_COM3"] = self.process.stdout.readline().strip()

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait()
            self.process = None


@pytest.fixture
def fingers():
    """(road, feed): feed(finger, impressions) puts that finger on the reader."""
    if vantrel.Reader(0).finger():
        yield "synthetic", lambda finger, impressions: None
        return
    program = os.environ.get("VANTREL_SIM_PROGRAM", "")
    if not (IMAGES / "101_1.pgm").exists() or not os.path.exists(program):
        pytest.skip("no fingers for the stand-in: it has no synthetic fingers and "
                    f"{IMAGES} or vantrel-sim is absent")
    serial = SerialFingers(program)
    yield "serial", serial.feed
    serial.stop()
