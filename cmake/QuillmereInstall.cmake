# Every install rule of the project, included once all targets are defined: the libraries and
# their public headers, the CMake package `quillmere` (find_package(quillmere) gives
# quillmere::common and quillmere::dat), and quillmere-dat.
# Only include/ directories are installed; private headers stay under each library's src/. The
# warnings target is linked for the build only, so it does not become part of the export.
#
# Components: `runtime` holds the shared objects of a shared build, `development` the headers,
# static libraries, the shared objects' unversioned links and the CMake package, `tools` the
# quillmere-dat program.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(quillmere_common PROPERTIES EXPORT_NAME common)
set_target_properties(quillmere_dat PROPERTIES EXPORT_NAME dat)
install(TARGETS quillmere_common quillmere_dat EXPORT quillmereTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
        NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
foreach(library quillmere_common quillmere_dat)
    get_target_property(source_dir ${library} SOURCE_DIR)
    get_target_property(generated_dir ${library} QUILLMERE_GENERATED_INCLUDE_DIR)
    install(DIRECTORY ${source_dir}/include/ ${generated_dir}/
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
endforeach()

set(QUILLMERE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillmere)
install(EXPORT quillmereTargets
    NAMESPACE quillmere::
    FILE quillmereTargets.cmake
    DESTINATION ${QUILLMERE_PACKAGE_DIR}
    COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quillmereConfig.cmake.in
    ${PROJECT_BINARY_DIR}/quillmereConfig.cmake
    INSTALL_DESTINATION ${QUILLMERE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quillmereConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY ${QUILLMERE_VERSION_COMPATIBILITY})
install(FILES
    ${PROJECT_BINARY_DIR}/quillmereConfig.cmake
    ${PROJECT_BINARY_DIR}/quillmereConfigVersion.cmake
    DESTINATION ${QUILLMERE_PACKAGE_DIR}
    COMPONENT development)

if(TARGET quillmere_dat_tool)
    # A tool linked with the shared libraries finds them beside itself, in the installed tree.
    get_target_property(library_type quillmere_dat TYPE)
    if(library_type STREQUAL "SHARED_LIBRARY" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
        file(RELATIVE_PATH to_libdir
            /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
        set_target_properties(quillmere_dat_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${to_libdir}")
    endif()
    install(TARGETS quillmere_dat_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
