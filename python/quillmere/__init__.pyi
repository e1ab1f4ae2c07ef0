# Type stubs of the package quillmere (the extension module _quillmere re-exported).
import os
import pathlib
from typing import Iterator, Optional, Union

_Path = Union[str, "os.PathLike[str]"]
_Bytes = Union[bytes, bytearray, memoryview]

class Error(Exception): ...

class DatError(Error):
    kind: str
    file_id: Optional[int]

class DecodeError(Error): ...

class Header:
    magic: int
    block_size: int
    file_size: int
    dataset: int
    subset: int
    free_head: int
    free_tail: int
    free_count: int
    root_offset: int
    new_lru: int
    old_lru: int
    use_lru: int
    master_map_id: int
    engine_version: int
    game_version: int
    version_string: bytes
    version_minor: int
    def __init__(self, **fields: Union[int, bytes]) -> None: ...

class Entry(tuple[int, int, int, int, int, int, bool, str]):
    """A named tuple: (id, offset, size, bit_flags, timestamp, version, compressed, file_type)."""
    @property
    def id(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def size(self) -> int: ...
    @property
    def bit_flags(self) -> int: ...
    @property
    def timestamp(self) -> int: ...
    @property
    def version(self) -> int: ...
    @property
    def compressed(self) -> bool: ...
    @property
    def file_type(self) -> str: ...

class Vector3:
    x: float
    y: float
    z: float

class Quaternion:
    w: float
    x: float
    y: float
    z: float

class Frame:
    origin: Vector3
    orientation: Quaternion

class Sphere:
    center: Vector3
    radius: float

class Location:
    part_id: int
    frame: Frame

class CylSphere:
    origin: Vector3
    radius: float
    height: float

class LightInfo:
    viewer_space_location: Frame
    color: int
    intensity: float
    falloff: float
    cone_angle: float

_FieldValue = Union[int, float, Vector3, Frame]

class Hook:
    @property
    def hook_type(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def direction(self) -> int: ...
    @property
    def data(self) -> bytes: ...
    @property
    def frame(self) -> Optional[int]: ...
    @property
    def placement(self) -> Optional[int]: ...
    @property
    def start_time(self) -> Optional[float]: ...
    @property
    def fields(self) -> dict[str, _FieldValue]: ...
    def __getattr__(self, name: str) -> _FieldValue: ...

class AnimationFrame:
    @property
    def frames(self) -> list[Frame]: ...
    @property
    def hooks(self) -> list[Hook]: ...

class Animation:
    id: int
    flags: int
    num_parts: int
    num_frames: int
    @property
    def hooks(self) -> list[Hook]: ...
    @property
    def pos_frames(self) -> list[Frame]: ...
    @property
    def part_frames(self) -> list[AnimationFrame]: ...

class SetupModel:
    id: int
    flags: int
    num_parts: int
    @property
    def hooks(self) -> list[Hook]: ...
    parts: list[int]
    parent_index: list[int]
    default_scale: list[Vector3]
    holding_locations: dict[int, Location]
    connection_points: dict[int, Location]
    placement_frames: dict[int, AnimationFrame]
    cyl_spheres: list[CylSphere]
    spheres: list[Sphere]
    height: float
    radius: float
    step_up: float
    step_down: float
    sorting_sphere: Sphere
    selection_sphere: Sphere
    lights: dict[int, LightInfo]
    default_animation: Optional[int]
    default_script: Optional[int]
    default_motion_table: Optional[int]
    default_sound_table: Optional[int]
    default_script_table: Optional[int]

class PhysicsScript:
    id: int
    @property
    def hooks(self) -> list[Hook]: ...
    @property
    def script_data(self) -> list[tuple[float, Hook]]: ...

_Decoded = Union[Animation, SetupModel, PhysicsScript]

class Problem:
    severity: str
    kind: str
    id: Optional[int]
    offset: Optional[int]
    message: str

class Report:
    errors: int
    warnings: int
    ok: bool
    @property
    def summary(self) -> dict[str, int]: ...
    @property
    def problems(self) -> list[Problem]: ...

class Archive:
    @property
    def path(self) -> pathlib.Path: ...
    @property
    def closed(self) -> bool: ...
    @property
    def header(self) -> Header: ...
    @property
    def preamble(self) -> bytes: ...
    def __len__(self) -> int: ...
    def __contains__(self, id: object) -> bool: ...
    def __iter__(self) -> Iterator[Entry]: ...
    def __getitem__(self, id: int) -> Entry: ...
    def read(self, id: int, *, checked: bool = False) -> bytes: ...
    def decode(self, id: int) -> _Decoded: ...
    def verify(self, *, decode: bool = True, max_problems: int = 100000) -> Report: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Archive": ...
    def __exit__(self, *args: object) -> None: ...

class ArchiveWriter:
    def __init__(
        self,
        path: _Path,
        header: Optional[Header] = None,
        block_size: int = 1024,
        *,
        preamble: Optional[bytes] = None,
    ) -> None: ...
    def add(
        self,
        id: int,
        data: _Bytes,
        *,
        compress: bool = False,
        bit_flags: Optional[int] = None,
        timestamp: int = 0,
        version: int = 0,
    ) -> Entry: ...
    def finish(self) -> Header: ...
    def abort(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    def __len__(self) -> int: ...
    def __enter__(self) -> "ArchiveWriter": ...
    def __exit__(self, *args: object) -> bool: ...

def open(path: _Path) -> Archive: ...
def decode(data: _Bytes, file_type: Union[str, int]) -> _Decoded: ...
def verify(path: _Path, *, decode: bool = True, max_problems: int = 100000) -> Report: ...
