# Native build of the pure logic with AddressSanitizer and UBSan.
list(TRANSFORM PROXY_PURE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)

add_library(proxy_pure STATIC ${PROXY_PURE_SOURCES})
proxy_warnings(proxy_pure)
target_include_directories(proxy_pure PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(proxy_pure PUBLIC ${SANITIZE})
target_link_options(proxy_pure PUBLIC ${SANITIZE})

file(GLOB_RECURSE PURE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_pure_test.cpp)
add_executable(test_pure ${PURE_TESTS})
proxy_warnings(test_pure)
target_include_directories(test_pure PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(test_pure PRIVATE proxy_pure gtest gtest_main)
add_test(NAME native_pure COMMAND test_pure)
