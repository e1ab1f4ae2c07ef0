// The mark of the library's test seams: private functions that its own tests call directly.
#pragma once

#include "quillmere/dat/export.hpp"

/// Marks a private declaration, in a header under src/ (never installed), that the library's
/// tests call. A shared build exports it like the public API, so the tests link against the very
/// library that is installed (see the library's CMakeLists.txt).
#define QUILLMERE_DAT_TEST_SEAM QUILLMERE_DAT_EXPORT
