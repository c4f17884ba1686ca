# tavri-printer-app: the Wine printers of a prefix as driverless IPP printers,
# built on PAPPL where pkg-config finds it, with the tests of its pure parts;
# tavri-print, the command, on the same engine without PAPPL.
set(APP_DIR ${CMAKE_SOURCE_DIR}/printer_app)
# The parts that need neither PAPPL nor a running system: tested with the
# sanitizers, as the program's own pure logic is.
set(APP_PURE_SOURCES
    ${APP_DIR}/query_report.cpp ${APP_DIR}/driver_data.cpp ${APP_DIR}/page_image.cpp
    ${APP_DIR}/printer_names.cpp ${APP_DIR}/cups_queues.cpp ${APP_DIR}/loopback.cpp ${APP_DIR}/child_process.cpp
    ${APP_DIR}/peer.cpp ${APP_DIR}/wine_job.cpp ${APP_DIR}/delivery.cpp ${APP_DIR}/pdf_plan.cpp
    ${APP_DIR}/job_settings.cpp ${APP_DIR}/app_start.cpp ${APP_DIR}/saved_jobs.cpp
    ${APP_DIR}/form_origin.cpp ${APP_DIR}/job_limits.cpp ${APP_DIR}/raster_pages.cpp
    ${APP_DIR}/onward.cpp ${APP_DIR}/onward_send.cpp ${APP_DIR}/ghostscript.cpp ${APP_DIR}/cups_options.cpp
    ${APP_DIR}/picture_page.cpp ${APP_DIR}/command_options.cpp ${APP_DIR}/wine_registry.cpp
    ${APP_DIR}/capabilities_json.cpp ${APP_DIR}/fd_io.cpp
    ${CMAKE_SOURCE_DIR}/src/net/packet.cpp ${CMAKE_SOURCE_DIR}/src/base/print_request.cpp
    ${CMAKE_SOURCE_DIR}/src/imaging/bmp_file.cpp)
# The engine of a job of documents, which every front end drives.
set(ENGINE_SOURCES ${APP_DIR}/document_job.cpp ${APP_DIR}/picture_decode.cpp
                   ${APP_DIR}/app_config.cpp ${APP_DIR}/wine_query.cpp)

# tavri-print: documents printed from a shell, on the engine alone.
add_executable(tavri-print ${APP_PURE_SOURCES} ${ENGINE_SOURCES} ${APP_DIR}/print_command.cpp)
proxy_warnings(tavri-print)
target_include_directories(tavri-print PRIVATE ${APP_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tavri-print PRIVATE cups jpeg png)

# tavri-cups-worker: a CUPS job as the Wine prefix's owner, on the engine alone.
add_executable(tavri-cups-worker ${APP_PURE_SOURCES} ${ENGINE_SOURCES} ${APP_DIR}/cups_worker.cpp)
proxy_warnings(tavri-cups-worker)
target_include_directories(tavri-cups-worker PRIVATE ${APP_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tavri-cups-worker PRIVATE cups jpeg png)

file(GLOB APP_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/printer_app/*_test.cpp)
# The program's own BMP check (among the pure sources) judges the pages made here.
add_executable(test_printer_app ${APP_TESTS} ${APP_PURE_SOURCES})
proxy_warnings(test_printer_app)
target_include_directories(test_printer_app PRIVATE ${APP_DIR} ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(test_printer_app PRIVATE
                           FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures/")
target_compile_options(test_printer_app PRIVATE ${SANITIZE})
target_link_options(test_printer_app PRIVATE ${SANITIZE})
target_link_libraries(test_printer_app PRIVATE gtest gtest_main cups)
add_test(NAME native_printer_app COMMAND test_printer_app)

find_package(PkgConfig)
if(PKG_CONFIG_FOUND)
    pkg_check_modules(PAPPL IMPORTED_TARGET pappl)
endif()
if(NOT PAPPL_FOUND)
    message(STATUS "PAPPL not found: tavri-printer-app is not built")
    return()
endif()

add_executable(tavri-printer-app ${APP_PURE_SOURCES} ${ENGINE_SOURCES}
               ${APP_DIR}/printer_driver.cpp ${APP_DIR}/raster_job.cpp ${APP_DIR}/job_common.cpp
               ${APP_DIR}/pdf_job.cpp ${APP_DIR}/picture_job.cpp ${APP_DIR}/state_reasons.cpp
               ${APP_DIR}/printer_sync.cpp ${APP_DIR}/owner_only.cpp ${APP_DIR}/dnssd_scope.cpp
               ${APP_DIR}/job_owners.cpp ${APP_DIR}/web_forms.cpp ${APP_DIR}/command_socket.cpp
               ${APP_DIR}/destination_page.cpp
               ${APP_DIR}/job_watch.cpp ${APP_DIR}/raster_spool.cpp ${APP_DIR}/raster_filter.cpp
               ${APP_DIR}/main.cpp)
proxy_warnings(tavri-printer-app)
target_include_directories(tavri-printer-app PRIVATE ${APP_DIR} ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(tavri-printer-app PRIVATE PkgConfig::PAPPL jpeg png)
