"""Portal archives from Python: open, list, read, decode hooks, verify and write.

    import quillmere
    with quillmere.open("portal.dat") as archive:
        for entry in archive:
            ...

Everything is implemented by the C++ library in the extension module _quillmere.
"""

from ._quillmere import (
    Animation,
    AnimationFrame,
    Archive,
    ArchiveWriter,
    CylSphere,
    DatError,
    DecodeError,
    Entry,
    Error,
    Frame,
    Header,
    Hook,
    LightInfo,
    Location,
    PhysicsScript,
    Problem,
    Quaternion,
    Report,
    SetupModel,
    Sphere,
    Vector3,
    decode,
    open,
    verify,
)

__all__ = [
    "Animation",
    "AnimationFrame",
    "Archive",
    "ArchiveWriter",
    "CylSphere",
    "DatError",
    "DecodeError",
    "Entry",
    "Error",
    "Frame",
    "Header",
    "Hook",
    "LightInfo",
    "Location",
    "PhysicsScript",
    "Problem",
    "Quaternion",
    "Report",
    "SetupModel",
    "Sphere",
    "Vector3",
    "decode",
    "open",
    "verify",
]
