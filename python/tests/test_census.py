"""Reading through the Python API: a census of hooks that must equal the checker's, and the
decoded files' fields."""

from collections import Counter

import quillmere

COLUMN = {"0x03": 0, "0x02": 1, "0x33": 2}


def census(path):
    counts = Counter()
    with quillmere.open(path) as archive:
        for entry in archive:
            if entry.file_type in COLUMN:
                for hook in archive.decode(entry.id).hooks:
                    counts[hook.name, COLUMN[entry.file_type]] += 1
    return counts


def test_census_agrees_with_the_checker(demo_archive, checker_counts):
    counts = census(demo_archive)
    expected = {(name, column): n for name, row in checker_counts.items()
                for column, n in enumerate(row) if n}
    assert dict(counts) == expected


def test_directory_listing_matches_verify(demo_archive):
    with quillmere.open(demo_archive) as archive:
        entries = list(archive)
        report = archive.verify()
        assert len(entries) == len(archive) == report.summary["entries"]
        assert [e.id for e in entries] == sorted(e.id for e in entries)
        assert all(e.id in archive for e in entries) and 0xFFFFFFFF not in archive
        assert -1 not in archive and "x" not in archive
        compressed = [e for e in entries if e.compressed]
        assert len(compressed) == report.summary["compressed_files"] > 0
        assert all(e.bit_flags & 1 for e in compressed)
        assert sum(len(archive.read(e.id)) for e in entries) == report.summary["decompressed_bytes"]
        assert archive[entries[0].id] == entries[0]
        assert archive.header.block_size == 1024 and archive.header.file_size == report.summary["archive_length"]
    assert report.ok and report.errors == report.warnings == 0 and report.problems == []


def test_decoded_fields_and_payloads(demo_archive):
    with quillmere.open(demo_archive) as archive:
        ids = [e.id for e in archive if e.file_type in COLUMN]
        decoded = {i: archive.decode(i) for i in ids}
        raw = {i: archive.read(i) for i in ids}
    for file_id, obj in decoded.items():
        # The module-level decoder gives the same hooks from the bytes alone.
        again = quillmere.decode(raw[file_id], f"0x{file_id >> 24:02X}")
        assert [(h.hook_type, h.data) for h in again.hooks] == [(h.hook_type, h.data) for h in obj.hooks]
        assert int.from_bytes(raw[file_id][:4], "little") == obj.id
        for hook in obj.hooks:
            assert isinstance(hook.name, str) and hook.name
            for name, value in hook.fields.items():
                assert repr(getattr(hook, name)) == repr(value)  # NaN != NaN
    animations = [o for o in decoded.values() if isinstance(o, quillmere.Animation)]
    models = [o for o in decoded.values() if isinstance(o, quillmere.SetupModel)]
    scripts = [o for o in decoded.values() if isinstance(o, quillmere.PhysicsScript)]
    assert animations and models and scripts
    for animation in animations:
        frames = animation.part_frames
        assert len(frames) == animation.num_frames
        assert all(len(f.frames) == animation.num_parts for f in frames)
        assert [h.data for f in frames for h in f.hooks] == [h.data for h in animation.hooks]
        assert [h.frame for h in animation.hooks] == [i for i, f in enumerate(frames) for _ in f.hooks]
    for model in models:
        placements = model.placement_frames
        assert [h.data for f in placements.values() for h in f.hooks] == [h.data for h in model.hooks]
        assert {h.placement for h in model.hooks} <= set(placements)
        assert len(model.parts) == model.num_parts
    for script in scripts:
        assert [t for t, _ in script.script_data] == [h.start_time for h in script.hooks]
    sounds = [h for o in decoded.values() for h in o.hooks if h.name == "Sound"]
    assert sounds and all(h.fields == {"id": int.from_bytes(h.data[:4], "little")} for h in sounds)
