# Compiler settings for the project's own code; third-party code is not held
# to them (its headers come in as system includes).
add_library(quern_options INTERFACE)
target_compile_options(quern_options INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wnon-virtual-dtor -Werror)
target_include_directories(quern_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

if(QUERN_SANITIZE)
    target_compile_options(quern_options INTERFACE
        -fsanitize=${QUERN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(quern_options INTERFACE -fsanitize=${QUERN_SANITIZE})
    # Tests of memory bounds look at resident sizes, which shadow memory distorts.
    target_compile_definitions(quern_options INTERFACE QUERN_SANITIZED=1)
endif()

if(QUERN_BUILD_FUZZERS)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "The fuzz targets need clang's libFuzzer: configure with the fuzz preset")
    endif()
    # The coverage the fuzzer steers by has to come from the code under test,
    # not only from the targets themselves.
    target_compile_options(quern_options INTERFACE -fsanitize=fuzzer-no-link
        -fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/cmake/fuzz-sanitizer-ignorelist.txt)
endif()

if(WIN32)
    # One self-contained executable: the C++ and threading runtimes linked in,
    # nothing needed beyond the system's own DLLs.
    target_compile_definitions(quern_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
    target_link_options(quern_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
