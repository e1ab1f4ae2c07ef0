# Every install rule of the project, included once all targets are defined: the libraries and
# their public headers, the CMake package `quillmere` (find_package(quillmere) gives
# quillmere::common and quillmere::dat), the pkg-config file quillmere.pc, and quillmere-dat.
# Only include/ directories are installed; private headers stay under each library's src/. The
# warnings target is linked for the build only, so it does not become part of the export.
#
# Components: `runtime` holds the shared objects of a shared build, `development` the headers,
# static libraries, the shared objects' unversioned links and both package files, `tools` the
# quillmere-dat program.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# A shared quillmere_dat finds quillmere_common beside itself: a program that calls no function of
# quillmere_common does not name it (under --as-needed), and its own run path does not serve the
# libraries it loads.
get_target_property(dat_type quillmere_dat TYPE)
if(dat_type STREQUAL "SHARED_LIBRARY")
    set_target_properties(quillmere_dat PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

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

# The pkg-config file names its directories relative to its own place (${pcfiledir}), like the
# CMake package, so `cmake --install --prefix` and DESTDIR give a working file and the installed
# tree may be moved; directories configured as absolute paths are written as they are.
set(QUILLMERE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${QUILLMERE_PKGCONFIG_DIR}")
    set(QUILLMERE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    file(RELATIVE_PATH up /prefix/${QUILLMERE_PKGCONFIG_DIR} /prefix)
    string(REGEX REPLACE "/$" "" up "${up}")
    set(QUILLMERE_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(dir INCLUDEDIR LIBDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
        set(QUILLMERE_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
        set(QUILLMERE_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/quillmere.pc.in ${PROJECT_BINARY_DIR}/quillmere.pc
    @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quillmere.pc
    DESTINATION ${QUILLMERE_PKGCONFIG_DIR}
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
    install(FILES ${QUILLMERE_DAT_MAN_PAGE}
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
    install(FILES ${QUILLMERE_DAT_COMPLETION}
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME quillmere-dat COMPONENT tools)
endif()
