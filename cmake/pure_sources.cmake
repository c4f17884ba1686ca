# Sources free of windows.h: built into the program and, on a native host,
# into sanitizer-instrumented tests (tests/*/*_pure_test.cpp).
set(PROXY_PURE_SOURCES
    src/diag/pxq_options.cpp
    src/diag/quote.cpp
    src/diag/log_format.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/service/print_request.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/net/packet.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/service/messages.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/printer/paper_table.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/printer/output_path.cpp
)
list(APPEND PROXY_PURE_SOURCES
    src/service/bmp_file.cpp
    src/service/page_placement.cpp
    src/service/drive_c_path.cpp
)
