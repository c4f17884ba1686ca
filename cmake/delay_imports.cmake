# The spooler, graphics, window, common-controls and service-manager
# libraries are loaded on first use rather than at process start: a session
# connects to its server before it prints or shows a window, and under Wine
# loading them costs more start-up time than everything else the program
# does before it connects. A function missing from cmake/delay/*.def still
# links, from the ordinary import library, and then loads at process start.
find_program(MINGW_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool x86_64-w64-mingw32-dlltool REQUIRED)

set(DELAY_IMPORT_LIBRARIES)
foreach(dll winspool.drv comctl32.dll gdi32.dll user32.dll advapi32.dll imm32.dll)
    get_filename_component(stem ${dll} NAME_WE)
    set(def ${CMAKE_SOURCE_DIR}/cmake/delay/${stem}.def)
    set(library ${CMAKE_BINARY_DIR}/lib${stem}_delayed.a)
    add_custom_command(OUTPUT ${library}
        COMMAND ${MINGW_DLLTOOL} --input-def ${def} --dllname ${dll} --output-delaylib ${library}
        DEPENDS ${def} VERBATIM)
    list(APPEND DELAY_IMPORT_LIBRARIES ${library})
endforeach()
add_custom_target(delay_imports DEPENDS ${DELAY_IMPORT_LIBRARIES})
