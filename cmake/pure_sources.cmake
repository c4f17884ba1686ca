# Sources free of windows.h: built into the program and, on a native host,
# into sanitizer-instrumented tests (tests/*/*_pure_test.cpp) and fuzz targets.
set(PROXY_PURE_SOURCES
    src/app/command_line.cpp
    src/base/print_request.cpp
    src/diag/log_format.cpp
    src/diag/pxq_options.cpp
    src/diag/quote.cpp
    src/net/packet.cpp
    src/printer/output_path.cpp
    src/printer/paper_table.cpp
    src/printer/query_format.cpp
    src/service/bmp_file.cpp
    src/service/drive_c_path.cpp
    src/service/messages.cpp
    src/service/page_buffer.cpp
    src/service/page_placement.cpp
    src/ui/font_link_list.cpp
)
