# The settings the installable libraries share: hidden visibility with a generated export header,
# and the version and SONAME of a shared build.

# The ABI version, which names the shared objects (libquillmere_dat.so.0.1). Before 1.0 a minor
# version may change the interface, from 1.0 on only a major one; the installed CMake package
# accepts the same versions (QUILLMERE_VERSION_COMPATIBILITY), so the two rules cannot drift.
if(PROJECT_VERSION_MAJOR EQUAL 0)
    set(QUILLMERE_ABI_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
    set(QUILLMERE_VERSION_COMPATIBILITY SameMinorVersion)
else()
    set(QUILLMERE_ABI_VERSION ${PROJECT_VERSION_MAJOR})
    set(QUILLMERE_VERSION_COMPATIBILITY SameMajorVersion)
endif()

# quillmere_library(<target> <name>)
#
# For the library <target> whose headers live under quillmere/<name>/: compiles it with hidden
# visibility, writes quillmere/<name>/export.hpp with the macro QUILLMERE_<NAME>_EXPORT that
# marks its public API (the default visibility in a shared build, nothing in a static one, so a
# shared library that links the static one does not export it), and versions a shared build.
function(quillmere_library target name)
    string(TOUPPER "${name}" upper)
    get_target_property(type ${target} TYPE)
    set(QUILLMERE_EXPORT_LIBRARY ${target})
    set(QUILLMERE_EXPORT_MACRO QUILLMERE_${upper}_EXPORT)
    if(type STREQUAL "SHARED_LIBRARY")
        set(QUILLMERE_EXPORT_KIND "shared")
        set(QUILLMERE_EXPORT_ATTRIBUTE "__attribute__((visibility(\"default\")))")
    else()
        set(QUILLMERE_EXPORT_KIND "static")
        set(QUILLMERE_EXPORT_ATTRIBUTE "")
    endif()
    set(include_dir ${CMAKE_CURRENT_BINARY_DIR}/include)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/export.hpp.in
        ${include_dir}/quillmere/${name}/export.hpp @ONLY)

    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${include_dir}>)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        VERSION ${PROJECT_VERSION}
        SOVERSION ${QUILLMERE_ABI_VERSION}
        QUILLMERE_GENERATED_INCLUDE_DIR ${include_dir})
endfunction()
