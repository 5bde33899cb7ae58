"""amrnb's file and frame calls against the amrconv program, on every conformance stream."""

import io
import os
import random
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import amrnb
from conftest import CONFORMANCE, STREAMS, run_amrconv


def amrconv_outputs(source, tmp_path):
    """amrconv's decoded samples and its two destination files' bytes."""
    wav, amr = tmp_path / "out.wav", tmp_path / "out.amr"
    assert run_amrconv(source, wav, 1)[0] == 0 and run_amrconv(source, amr, 2)[0] == 0
    decoded = wav.read_bytes()
    return np.frombuffer(decoded[62:], "<i2"), decoded, amr.read_bytes()


def frames_of(data, layout):
    position = 0
    while position < len(data):
        size = amrnb.frame_bytes(data[position], layout)
        if position + size > len(data):
            return
        yield data[position:position + size]
        position += size


@pytest.mark.parametrize("name", STREAMS)
def test_every_call_agrees_with_amrconv(name, tmp_path):
    source = CONFORMANCE / f"{name}.wav"
    expected, decoded_file, storage_file = amrconv_outputs(source, tmp_path)
    assert len(expected) > 0

    # Both kinds of file, given as a path, as bytes and as a file object.
    storage_path = tmp_path / "out.amr"
    for file in (source, str(source), source.read_bytes(), io.BytesIO(source.read_bytes()),
                 storage_path, storage_file, open(storage_path, "rb")):
        samples, rate = amrnb.read(file)
        assert rate == 8000 and samples.dtype == np.int16
        np.testing.assert_array_equal(samples, expected)

    for dtype in ("float32", "float64"):
        samples, _ = amrnb.read(source, dtype=dtype)
        assert samples.dtype == dtype
        np.testing.assert_array_equal(samples, expected.astype(dtype) / 32768)
    for start, stop in ((0, 1), (161, 4000), (-500, None), (100, -100), (0, -160), (0, 10**9)):
        np.testing.assert_array_equal(amrnb.read(source, start=start, stop=stop)[0],
                                      expected[start:stop])

    for blocksize in (1, 159, 160, 161, 4000, 10**6) if name == "mixed" else (159, 4000):
        parts = list(amrnb.blocks(storage_file, blocksize=blocksize))
        assert all(len(p) == blocksize for p in parts[:-1]) and 0 < len(parts[-1]) <= blocksize
        np.testing.assert_array_equal(np.concatenate(parts), expected)
    np.testing.assert_array_equal(
        np.concatenate(list(amrnb.blocks(source, blocksize=999, dtype="float32"))),
        expected.astype(np.float32) / 32768)

    decoder = amrnb.Decoder()
    frames = list(frames_of(source.read_bytes()[62:], "storage"))
    pieces = [decoder.decode(frame) for frame in frames]
    np.testing.assert_array_equal(np.concatenate([p for p, _ in pieces]), expected)

    facts = amrnb.info(source)
    assert (facts.kind, facts.frames, facts.samples) == ("amr-wave", len(frames), len(expected))
    assert facts.frame_types == {t: sum(1 for f in frames if f[0] >> 3 & 15 == t)
                                 for t in {f[0] >> 3 & 15 for f in frames}}
    assert facts.concealed == sum(1 for _, outcome in pieces if outcome == amrnb.Outcome.CONCEALED)
    assert facts.header.audio_format == 310 and facts.header.riff_id == source.read_bytes()[:4]
    assert amrnb.info(storage_file).kind == "storage" and amrnb.info(storage_file).header is None

    for event_type, wanted in ((1, decoded_file), (2, storage_file)):
        converted = amrnb.convert(source, tmp_path / "mine", event_type)
        assert (tmp_path / "mine").read_bytes() == wanted
        assert converted.frames == len(frames) and converted.seconds == pytest.approx(
            len(frames) * 0.02)


def test_decoder_outcomes_conceal_and_reset():
    frames = list(frames_of((CONFORMANCE / "mixed.wav").read_bytes()[62:], "storage"))
    decoder = amrnb.Decoder()
    first = [decoder.decode(f)[0] for f in frames[:20]]
    concealed, outcome = decoder.conceal()
    assert outcome == amrnb.Outcome.CONCEALED and len(concealed) == 160
    decoder.reset()
    np.testing.assert_array_equal(decoder.decode(frames[0])[0], first[0])
    with pytest.raises(amrnb.AmrError) as error:
        decoder.decode(frames[0][:5])  # shorter than its mode needs
    assert error.value.status == 10 and isinstance(error.value, ValueError)
    with pytest.raises(ValueError):
        decoder.decode(frames[0], layout="rtp")


@pytest.mark.parametrize("path", sorted((CONFORMANCE / "if2").glob("*.if2")), ids=lambda p: p.stem)
def test_if2_frames(path):
    expected_file = path.with_suffix(".pcm")
    if expected_file.exists():
        expected = np.frombuffer(expected_file.read_bytes(), "<i2")
    else:
        expected = np.frombuffer((CONFORMANCE / f"{path.stem}.out.wav").read_bytes()[62:], "<i2")
    decoder = amrnb.Decoder()
    samples = [decoder.decode(f, layout="if2")[0] for f in frames_of(path.read_bytes(), "if2")]
    np.testing.assert_array_equal(np.concatenate(samples), expected)


def test_damaged_files_fail_as_amrconv_does(tmp_path):
    good = (CONFORMANCE / "mode7.wav").read_bytes()
    wrong_tag = bytearray(good)
    wrong_tag[20:22] = (1).to_bytes(2, "little")
    cases = {"short_header.wav": (good[:61], 12), "wrong_tag.wav": (bytes(wrong_tag), 14),
             "empty.wav": (b"", 12)}
    for name, (content, status) in cases.items():
        path = tmp_path / name
        path.write_bytes(content)
        for event_type in (1, 2):
            program_status, program_output = run_amrconv(path, tmp_path / "out", event_type)
            assert program_status == status
            with pytest.raises(amrnb.AmrError) as error:
                amrnb.convert(path, tmp_path / "mine", event_type)
            assert error.value.status == status
            for line in error.value.message.splitlines():
                assert line in program_output
        for file in (path, content, io.BytesIO(content)):
            with pytest.raises(amrnb.AmrError) as error:
                amrnb.read(file)
            assert error.value.status == status
    with pytest.raises(amrnb.AmrError) as error:
        amrnb.read(tmp_path / "missing.wav")
    assert error.value.status == 3 and str(tmp_path / "missing.wav") in error.value.message
    with pytest.raises(amrnb.AmrError) as error:
        amrnb.convert(tmp_path / "missing.wav", tmp_path / "mine", 1)
    assert error.value.status == 3


def test_cut_frames_and_random_bytes_never_crash(tmp_path):
    good = (CONFORMANCE / "mixed.wav").read_bytes()
    rng = random.Random(23)
    files = [good[:62], good[:-5], good[:200] + bytes([0x50, 0x68]) + good[200:],
             b"#!AMR\n" + good[62:-3], good[:62] + b"\x7c" * 3000]  # 1-byte no-data frames
    files += [good[:62] + rng.randbytes(rng.randrange(0, 600)) for _ in range(30)]
    files += [rng.randbytes(rng.randrange(0, 200)) for _ in range(30)]
    files += [b"#!AMR\n" + rng.randbytes(rng.randrange(0, 300)) for _ in range(30)]
    decoder = amrnb.Decoder()
    for _ in range(3000):  # random frames in both layouts: samples, or AmrError for a short one
        frame = rng.randbytes(rng.randrange(0, 40))
        layout = rng.choice(("storage", "if2"))
        kind = (frame[0] >> 3 if layout == "storage" else frame[0]) & 15 if frame else 15
        needed = amrnb.frame_bytes(frame[0], layout) if kind <= 8 else 1  # 9..15: first byte
        try:
            samples, outcome = decoder.decode(frame, layout)
            assert len(samples) == 160 and len(frame) >= needed
        except amrnb.AmrError as error:
            assert error.status == 10 and len(frame) < needed
    for index, content in enumerate(files):
        path = tmp_path / f"{index}.wav"
        path.write_bytes(content)
        try:
            samples, _ = amrnb.read(content)
        except amrnb.AmrError as error:
            assert error.status in (12, 14)
            continue
        assert len(samples) % 160 == 0
        np.testing.assert_array_equal(np.concatenate(list(amrnb.blocks(path, 333)) or [samples]),
                                      samples)
        if not content.startswith(b"#!AMR\n"):
            expected, decoded_file, storage_file = amrconv_outputs(path, tmp_path)
            np.testing.assert_array_equal(samples, expected)
            amrnb.convert(path, tmp_path / "mine.wav", 1)
            amrnb.convert(path, tmp_path / "mine.amr", 2)
            assert (tmp_path / "mine.wav").read_bytes() == decoded_file
            assert (tmp_path / "mine.amr").read_bytes() == storage_file


def test_installed_package_finds_its_library(tmp_path):
    build = Path(os.environ["AMRNB_LIBRARY"]).resolve().parent.parent
    if not (build / "cmake_install.cmake").exists():
        pytest.skip(f"AMRNB_LIBRARY is not in a CMake build tree ({build})")
    if "AMRCONV_INSTALL_PROGRAM:BOOL=ON" in (build / "CMakeCache.txt").read_text():
        subprocess.run(["cmake", "--build", str(build), "--target", "amrconv"], check=True,
                       capture_output=True)  # installed with the library
    subprocess.run(["cmake", "--install", str(build), "--prefix", str(tmp_path)], check=True,
                   capture_output=True)
    environment = {k: v for k, v in os.environ.items() if k not in ("AMRNB_LIBRARY", "PYTHONPATH")}
    environment["PYTHONPATH"] = str(tmp_path / "lib" / "python3" / "dist-packages")
    source = CONFORMANCE / "homing.wav"
    script = ("import amrnb, sys; s, _ = amrnb.read(sys.argv[1]); "
              "sys.stdout.buffer.write(s.tobytes()); sys.stderr.write(amrnb._lib.lib()._name)")
    done = subprocess.run([sys.executable, "-c", script, str(source)], env=environment,
                          cwd=tmp_path, capture_output=True, check=True)
    assert done.stderr.decode().startswith(environment["PYTHONPATH"] + "/amrnb/")
    assert done.stdout == (CONFORMANCE / "homing.out.wav").read_bytes()[62:]
