# Strict warnings for every target of the project, linked PRIVATE as an interface target.
add_library(quillmere_warnings INTERFACE)
add_library(quillmere::warnings ALIAS quillmere_warnings)
target_compile_options(quillmere_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast -Wimplicit-fallthrough -Wnon-virtual-dtor -Woverloaded-virtual)
if(QUILLMERE_WARNINGS_AS_ERRORS)
    target_compile_options(quillmere_warnings INTERFACE -Werror)
endif()

# Source locations in messages (field contexts, failed checks) are written relative to the
# repository root rather than as absolute build-machine paths.
target_compile_options(quillmere_warnings INTERFACE "-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=")
