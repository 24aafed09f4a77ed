# RapidJSON is header-only. The cross build must not search the host's
# /usr/include as a whole, so its headers are reached through a directory that
# holds nothing else.
find_path(RAPIDJSON_HEADERS rapidjson/reader.h
    PATHS /usr/include /usr/local/include
    NO_CMAKE_FIND_ROOT_PATH)
if(NOT RAPIDJSON_HEADERS)
    message(FATAL_ERROR "RapidJSON headers not found: install rapidjson-dev")
endif()
set(QUERN_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${QUERN_THIRD_PARTY_INCLUDE})
file(CREATE_LINK ${RAPIDJSON_HEADERS}/rapidjson ${QUERN_THIRD_PARTY_INCLUDE}/rapidjson SYMBOLIC)
add_library(rapidjson INTERFACE)
target_include_directories(rapidjson SYSTEM INTERFACE ${QUERN_THIRD_PARTY_INCLUDE})

if(QUERN_BUILD_TESTS)
    if(CMAKE_CROSSCOMPILING)
        # Debian ships GoogleTest as source too; the cross build compiles it.
        set(GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
        add_subdirectory(${GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    else()
        find_package(GTest REQUIRED)
    endif()
endif()
