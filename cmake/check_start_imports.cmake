# Run after linking the program: fails when it loads any library but these
# at process start. A function that cmake/delay/*.def lacks still links, from
# the ordinary import library, and would load its library before the session
# connects, costing every job that library's start-up under Wine.
cmake_policy(SET CMP0057 NEW)
set(ALLOWED KERNEL32.dll msvcrt.dll WS2_32.dll)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line ${imports})
    string(REPLACE "DLL Name: " "" library "${line}")
    if(NOT library IN_LIST ALLOWED)
        message(FATAL_ERROR "${PROGRAM} loads ${library} at process start: "
                            "add the functions it takes from it to cmake/delay/")
    endif()
endforeach()
