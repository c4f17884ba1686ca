# The Win32 program, its unit tests (run under Wine) and the end-to-end tests.
file(GLOB_RECURSE PROXY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
list(REMOVE_ITEM PROXY_SOURCES ${CMAKE_SOURCE_DIR}/src/app/main.cpp
                              ${CMAKE_SOURCE_DIR}/src/query/query_main.cpp)

add_library(proxy_core STATIC ${PROXY_SOURCES})
proxy_warnings(proxy_core)
target_include_directories(proxy_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(proxy_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
include(cmake/delay_imports.cmake)
add_dependencies(proxy_core delay_imports)
target_link_libraries(proxy_core PUBLIC ws2_32 ${DELAY_IMPORT_LIBRARIES} delayimp gdi32 user32
                                        advapi32)

set(PROXY_LINK_OPTIONS -static -static-libgcc -static-libstdc++)

add_executable(tavri-printer-proxy WIN32 src/app/main.cpp)
proxy_warnings(tavri-printer-proxy)
target_link_libraries(tavri-printer-proxy PRIVATE proxy_core)
target_link_options(tavri-printer-proxy PRIVATE -municode ${PROXY_LINK_OPTIONS})
find_program(MINGW_OBJDUMP NAMES ${TOOLCHAIN_PREFIX}-objdump x86_64-w64-mingw32-objdump REQUIRED)
add_custom_command(TARGET tavri-printer-proxy POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DPROGRAM=$<TARGET_FILE:tavri-printer-proxy>
            -P ${CMAKE_SOURCE_DIR}/cmake/check_start_imports.cmake VERBATIM)

# What the installed printers' drivers offer, for the PPDs of the Linux side.
add_executable(tavri-printer-query src/query/query_main.cpp)
proxy_warnings(tavri-printer-query)
target_link_libraries(tavri-printer-query PRIVATE proxy_core)
target_link_options(tavri-printer-query PRIVATE -municode ${PROXY_LINK_OPTIONS})

# Wine runs every test; scripts/wine-run sources the rig's environment (scripts/env.sh).
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})

# The unit tests of each room, with the helpers they share (their entry too),
# built once.
add_library(test_support STATIC ${CMAKE_SOURCE_DIR}/tests/support/rig.cpp)
proxy_warnings(test_support)
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(test_support PUBLIC proxy_core gtest)
foreach(area diag service printer ui app)
    file(GLOB AREA_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${area}/*.cpp)
    add_executable(test_${area} ${AREA_TESTS})
    proxy_warnings(test_${area})
    target_link_libraries(test_${area} PRIVATE test_support)
    target_link_options(test_${area} PRIVATE ${PROXY_LINK_OPTIONS})
    add_test(NAME unit_${area} COMMAND ${WINE_RUN} --report $<TARGET_FILE:test_${area}>)
    set_tests_properties(unit_${area} PROPERTIES TIMEOUT 300)
endforeach()

# End-to-end tests: a Linux-side peer plays the server for the real program,
# and a short seeded pass of the hostile server must find nothing.
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
set(E2E_NAMES e2e_hostile_server)
add_test(NAME e2e_hostile_server
         COMMAND ${DEBIAN_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/hostile/server.py --seed 8 --sessions 90)
foreach(script ${E2E_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME e2e_${name} COMMAND ${DEBIAN_PYTHON3} ${script})
    list(APPEND E2E_NAMES e2e_${name})
endforeach()
set(E2E_ENVIRONMENT PROXY_EXE=$<TARGET_FILE:tavri-printer-proxy> PROXY_SOURCE_DIR=${CMAKE_SOURCE_DIR}
                    PROXY_BUILD_DIR=${CMAKE_BINARY_DIR})
# The rig that scripts/env.sh named when this tree was configured: its
# display, cupsd and user, also for a ctest run without that script (a
# mutation run's), where Wine would otherwise find no printer.
foreach(name DISPLAY CUPS_SERVER CUPS_SERVERROOT PROXY_CUPS_PORT PROXY_E2E_USER PROXY_OTHER_USER
             PROXY_TEST_PRINTER)
    if(DEFINED ENV{${name}})
        list(APPEND E2E_ENVIRONMENT "${name}=$ENV{${name}}")
    endif()
endforeach()
set_tests_properties(${E2E_NAMES} PROPERTIES TIMEOUT 600 ENVIRONMENT "${E2E_ENVIRONMENT}")
# The native front ends that the end-to-end tests drive (the command, the
# CUPS worker, the printer application), built where they will look for
# them: a run of ctest alone, as a mutation run's, has no other step that
# builds them; after scripts/test's own build it finds nothing to do.
set(NATIVE_BUILD "\${PROXY_NATIVE_BUILD_DIR:-${CMAKE_BINARY_DIR}-native}")
add_test(NAME native_front_ends
         COMMAND bash -c ". scripts/env.sh && . scripts/setup.sh && configure_and_build ${NATIVE_BUILD}"
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
set_tests_properties(native_front_ends PROPERTIES FIXTURES_SETUP native TIMEOUT 1800
                                                  ENVIRONMENT "PROXY_BUILD_DIR=${CMAKE_BINARY_DIR}")
set_tests_properties(${E2E_NAMES} PROPERTIES FIXTURES_REQUIRED native)

# Benchmarks are built, not run by ctest: see bench/README.md.
file(GLOB BENCH_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(source ${BENCH_PROGRAMS})
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    proxy_warnings(${name})
    if(name STREQUAL page_baseline)
        # It loads the printing libraries on first use, as the program does,
        # so that both jobs' clocks include loading them.
        add_dependencies(${name} delay_imports)
        target_link_libraries(${name} PRIVATE ${DELAY_IMPORT_LIBRARIES} delayimp)
    endif()
    target_link_libraries(${name} PRIVATE ws2_32 winspool gdi32 user32)
    target_link_options(${name} PRIVATE ${PROXY_LINK_OPTIONS})
endforeach()
