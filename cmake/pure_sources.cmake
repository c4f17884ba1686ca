# The pure logic: every file under src/ whose first line is the marker below
# builds without windows.h, into the program and, on a native host, into
# sanitizer-instrumented tests (tests/*/*_pure_test.cpp) and fuzz targets.
# The lists are read from the files, so the marker a reader sees and the
# build cannot disagree: PROXY_PURE_SOURCES (the .cpp files) and
# PROXY_PURE_HEADERS, both relative to the source root.
set(PROXY_PURE_MARKER "// Pure: builds natively, no windows.h.")
get_filename_component(PROXY_PURE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(GLOB_RECURSE PROXY_PURE_CANDIDATES CONFIGURE_DEPENDS RELATIVE ${PROXY_PURE_ROOT}
     ${PROXY_PURE_ROOT}/src/*.cpp ${PROXY_PURE_ROOT}/src/*.h)
set(PROXY_PURE_SOURCES)
set(PROXY_PURE_HEADERS)
foreach(file ${PROXY_PURE_CANDIDATES})
    file(STRINGS ${PROXY_PURE_ROOT}/${file} first_line LIMIT_COUNT 1)
    if(first_line STREQUAL PROXY_PURE_MARKER)
        if(file MATCHES "\\.cpp$")
            list(APPEND PROXY_PURE_SOURCES ${file})
        else()
            list(APPEND PROXY_PURE_HEADERS ${file})
        endif()
    endif()
endforeach()
list(SORT PROXY_PURE_SOURCES)
list(SORT PROXY_PURE_HEADERS)
