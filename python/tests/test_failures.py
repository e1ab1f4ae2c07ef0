"""What goes wrong: damaged and hostile input raises quillmere's exceptions with the library's
messages, a closed archive refuses further use, and what was handed out outlives the archive."""

import gc
import struct

import pytest

import quillmere


def first_uncompressed(archive, file_type):
    return next(e for e in archive if e.file_type == file_type and not e.compressed and e.size > 16)


def test_archives_that_do_not_open(tmp_path):
    with pytest.raises(quillmere.DatError) as missing:
        quillmere.open(tmp_path / "missing.dat")
    assert missing.value.kind == "PathError" and "missing.dat" in str(missing.value)
    assert isinstance(missing.value, quillmere.Error) and missing.value.file_id is None

    short = tmp_path / "short.dat"
    short.write_bytes(bytes(399))
    with pytest.raises(quillmere.DatError, match="While parsing field 'version_minor' in DatHeader") as cut:
        quillmere.open(short)
    assert cut.value.kind == "BinRead"
    report = quillmere.verify(short)
    assert report.errors == 1 and [(p.severity, p.kind, p.id) for p in report.problems] == [("error", "header", None)]

    broken = tmp_path / "broken.dat"
    header = bytearray(400)
    struct.pack_into("<III", header, 320, 0x4C51, 1024, 2048)
    struct.pack_into("<I", header, 352, 1024)  # the root node's chain runs past the end
    broken.write_bytes(bytes(header) + bytes(624) + struct.pack("<I", 1 << 20) + bytes(1020))
    with pytest.raises(quillmere.DatError, match="failed to fill whole buffer") as damaged:
        quillmere.open(broken)
    assert damaged.value.kind == "Io"
    assert [p.kind for p in quillmere.verify(broken).problems] == ["node_unreadable"]
    with pytest.raises(quillmere.DatError) as directory:
        quillmere.verify(tmp_path)
    assert directory.value.kind == "PathError"


def test_damaged_file_inside_an_archive(demo_archive, tmp_path):
    with quillmere.open(demo_archive) as archive:
        victim = first_uncompressed(archive, "0x03")
    damaged = tmp_path / "damaged.dat"
    data = bytearray(demo_archive.read_bytes())
    struct.pack_into("<I", data, victim.offset + 4 + 8, 0xFFFFFFFF)  # num_parts
    damaged.write_bytes(data)
    with quillmere.open(damaged) as archive:
        with pytest.raises(quillmere.DecodeError, match="failed to fill whole buffer"):
            archive.decode(victim.id)
        report = archive.verify()
    assert [(p.kind, p.id) for p in report.problems] == [("decode", victim.id)]
    assert report.summary["errors"] == report.errors == 1


def test_wrong_ids_types_and_bytes(demo_archive):
    with quillmere.open(demo_archive) as archive:
        with pytest.raises(quillmere.DatError, match="File ID 7F000001 not found in provider") as missing:
            archive.read(0x7F000001)
        assert (missing.value.kind, missing.value.file_id) == ("NotFound", 0x7F000001)
        with pytest.raises(quillmere.DatError):
            archive[0x7F000001]
        other = next(e for e in archive if e.file_type not in ("0x02", "0x03", "0x33"))
        with pytest.raises(ValueError, match="not an animation"):
            archive.decode(other.id)
        with pytest.raises(TypeError):
            archive.read("0x03000001")
        with pytest.raises(TypeError):
            archive.read(1 << 40)
    for file_type in ("0x03", 0x02, "33", "PhysicsScript", "setup model"):
        with pytest.raises(quillmere.DecodeError):
            quillmere.decode(b"\x01\x00\x00\x00\xff\xff\xff\xff\xff\xff\xff\xff" * 2, file_type)
    for bad in ("0x0A", 0x0A, 0x103, "sound", "0x", None, -1):
        with pytest.raises((ValueError, TypeError)):
            quillmere.decode(b"", bad)
    script = quillmere.decode(struct.pack("<IIdII", 0x33000001, 1, 0.5, 1, 0) + struct.pack("<I", 0x0A000001), "0x33")
    [hook] = script.hooks
    assert (hook.name, hook.id, hook.start_time, hook.frame) == ("Sound", 0x0A000001, 0.5, None)
    with pytest.raises(AttributeError, match="'Sound' hook has no field 'emitter_id'"):
        hook.emitter_id


def test_closed_archive_and_lifetimes(demo_archive):
    archive = quillmere.open(demo_archive)
    iterator = iter(archive)
    first = next(iterator)
    animation_id = next(e.id for e in archive if e.file_type == "0x03" and archive.decode(e.id).hooks)
    animation = archive.decode(animation_id)
    hooks = animation.hooks
    count = len(archive)
    archive.close()
    assert archive.closed
    for use in (len, iter, lambda a: a.read(first.id), lambda a: a.decode(animation_id),
                lambda a: a.header, lambda a: a.verify()):
        with pytest.raises(ValueError, match="closed"):
            use(archive)
    assert 1 + len(list(iterator)) == count  # the iterator's snapshot goes on
    del archive
    gc.collect()
    # Decoded objects own their bytes: the full decode still works after the archive is gone.
    assert first.id >> 24 == int(first.file_type, 16)
    assert len(animation.part_frames) == animation.num_frames
    assert [h.fields for h in hooks] == [h.fields for h in animation.hooks]
    with quillmere.open(demo_archive) as again:
        assert [h.data for h in again.decode(animation_id).hooks] == [h.data for h in hooks]
