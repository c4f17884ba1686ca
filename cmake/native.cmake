# Native build of the pure logic with AddressSanitizer and UBSan, with its tests.
list(TRANSFORM PROXY_PURE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

# Every marked header, compiled on its own too: one that no pure source
# includes still has to build without windows.h.
set(PURE_HEADERS_CHECK ${CMAKE_BINARY_DIR}/pure_headers.cpp)
list(TRANSFORM PROXY_PURE_HEADERS REPLACE "^src/(.*)$" "#include \"\\1\"" OUTPUT_VARIABLE
     PURE_HEADER_INCLUDES)
list(JOIN PURE_HEADER_INCLUDES "\n" PURE_HEADER_INCLUDES)
file(CONFIGURE OUTPUT ${PURE_HEADERS_CHECK} CONTENT "${PURE_HEADER_INCLUDES}\n")

file(GLOB_RECURSE PURE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_pure_test.cpp)
add_executable(test_pure ${PURE_TESTS} ${PROXY_PURE_SOURCES} ${PURE_HEADERS_CHECK})
proxy_warnings(test_pure)
target_include_directories(test_pure PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(test_pure PRIVATE ${SANITIZE})
target_link_options(test_pure PRIVATE ${SANITIZE})
target_link_libraries(test_pure PRIVATE gtest gtest_main)
add_test(NAME native_pure COMMAND test_pure)
include(${CMAKE_CURRENT_LIST_DIR}/printer_app.cmake)
