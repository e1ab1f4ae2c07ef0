"""Writing through ArchiveWriter: a batch edit that must verify clean and read back, and the
all-or-nothing rule of the context manager."""

from collections import Counter

import pytest

import quillmere


def test_batch_edit_verifies_clean_and_reads_back(demo_archive, tmp_path):
    out = tmp_path / "edited.dat"
    expected = {}
    with quillmere.open(demo_archive) as source:
        header = source.header
        # Leave out the most common type that carries no hooks, compress every animation,
        # add a file of a type the archive lacks.
        dropped = Counter(e.file_type for e in source if e.file_type not in ("0x02", "0x03", "0x33"))
        dropped = dropped.most_common(1)[0][0]
        with quillmere.ArchiveWriter(out, header) as writer:
            for entry in source:
                if entry.file_type == dropped:
                    continue
                data = source.read(entry.id)
                compress = entry.file_type == "0x03"
                added = writer.add(entry.id, data, compress=compress, timestamp=entry.timestamp,
                                   version=entry.version)
                assert added.id == entry.id and added.compressed == compress
                expected[entry.id] = (data, compress, entry.timestamp, entry.version)
            writer.add(0x7E000001, bytearray(b"a new file"), bit_flags=0x40)
            expected[0x7E000001] = (b"a new file", False, 0, 0)
    report = quillmere.verify(out)
    assert (report.errors, report.warnings) == (0, 0) and report.summary["entries"] == len(expected)
    with quillmere.open(out) as result:
        assert result.header.dataset == header.dataset
        assert result.header.version_string == header.version_string.ljust(16, b"\0")
        assert {e.id for e in result} == set(expected)
        for entry in result:
            data, compress, timestamp, version = expected[entry.id]
            assert result.read(entry.id, checked=True) == data
            assert (entry.compressed, entry.timestamp, entry.version) == (compress, timestamp, version)
        assert result[0x7E000001].bit_flags == 0x40
        animation = next(e.id for e in result if e.file_type == "0x03")
        assert result.decode(animation).hooks is not None


def test_archive_appears_only_when_the_block_ends_cleanly(tmp_path):
    out = tmp_path / "out.dat"
    out.write_bytes(b"the old file")
    with pytest.raises(RuntimeError):
        with quillmere.ArchiveWriter(out) as writer:
            writer.add(0x0A000001, b"sound")
            raise RuntimeError("the script failed")
    assert out.read_bytes() == b"the old file" and sorted(tmp_path.iterdir()) == [out]
    assert writer.closed
    with pytest.raises(ValueError, match="closed"):
        writer.add(0x0A000002, b"late")

    with quillmere.ArchiveWriter(out, block_size=256) as writer:
        writer.add(0x0A000001, b"sound")
        with pytest.raises(quillmere.DatError) as duplicate:
            writer.add(0x0A000001, b"again")
        assert duplicate.value.kind == "DuplicateId" and duplicate.value.file_id == 0x0A000001
        with pytest.raises(quillmere.DatError, match="mark it compressed") as flags:
            writer.add(0x0A000003, b"plain", bit_flags=1)
        assert flags.value.kind == "Other"
    assert sorted(tmp_path.iterdir()) == [out]
    with quillmere.open(out) as archive:
        assert archive.header.block_size == 256 and [e.id for e in archive] == [0x0A000001]


def test_writer_refusals(tmp_path):
    with pytest.raises(quillmere.DatError) as missing:
        quillmere.ArchiveWriter(tmp_path / "no" / "such" / "dir.dat")
    assert missing.value.kind == "PathError"
    with pytest.raises(quillmere.DatError, match="block size 4 is not supported"):
        quillmere.ArchiveWriter(tmp_path / "a.dat", block_size=4)
    with pytest.raises(TypeError):
        quillmere.ArchiveWriter(tmp_path / "a.dat", header={"dataset": 1})
    with pytest.raises(TypeError):
        quillmere.Header(no_such_field=1)
    with pytest.raises(ValueError):
        quillmere.Header(version_string=b"x" * 17)
    assert list(tmp_path.iterdir()) == []
