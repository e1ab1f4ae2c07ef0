# Installation and export of the libraries: the public headers, the static libraries and the
# CMake package `quillmere`, from which a downstream project gets quillmere::common and
# quillmere::dat with find_package(quillmere). Only include/ directories are installed; private
# headers stay under each library's src/. The warnings target is linked for the build only, so it
# does not become part of the export.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set_target_properties(quillmere_common PROPERTIES EXPORT_NAME common)
set_target_properties(quillmere_dat PROPERTIES EXPORT_NAME dat)
install(TARGETS quillmere_common quillmere_dat EXPORT quillmereTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT development)
install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/libs/common/include/
    ${PROJECT_SOURCE_DIR}/libs/dat/include/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

set(QUILLMERE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillmere)
install(EXPORT quillmereTargets
    NAMESPACE quillmere::
    FILE quillmereTargets.cmake
    DESTINATION ${QUILLMERE_PACKAGE_DIR}
    COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quillmereConfig.cmake.in
    ${PROJECT_BINARY_DIR}/quillmereConfig.cmake
    INSTALL_DESTINATION ${QUILLMERE_PACKAGE_DIR})
# Before 1.0 a minor version may change the interface, so only the same minor version matches.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quillmereConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMinorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/quillmereConfig.cmake
    ${PROJECT_BINARY_DIR}/quillmereConfigVersion.cmake
    DESTINATION ${QUILLMERE_PACKAGE_DIR}
    COMPONENT development)
