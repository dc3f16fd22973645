# Windows: links a target to system DLLs that load on first use instead of at
# start. The loader looks for a DLL it loads at start in the program's own
# folder first, unless Windows knows the DLL by name (KnownDLLs); one loaded
# later obeys the program's SetDefaultDllDirectories, which names the system
# folder alone. So a DLL that lands beside Tavimor.exe is never loaded.
#
# mingw-w64 ships import libraries only: the export list is read from each
# with nm, and dlltool makes the delay-load library from it.
function(tavimor_delay_load target)
    find_program(TAVIMOR_NM NAMES x86_64-w64-mingw32-nm REQUIRED)
    find_program(TAVIMOR_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
    set(dir ${CMAKE_BINARY_DIR}/delay_load)
    file(MAKE_DIRECTORY ${dir})
    foreach(dll IN LISTS ARGN)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
            OUTPUT_VARIABLE import_lib OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        execute_process(COMMAND ${TAVIMOR_NM} ${import_lib}
            OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
        string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" imports "${symbols}")
        list(TRANSFORM imports REPLACE "^__imp_" "")
        list(REMOVE_DUPLICATES imports)
        list(JOIN imports "\n" exports)
        file(WRITE ${dir}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
        execute_process(COMMAND ${TAVIMOR_DLLTOOL} --input-def ${dir}/${dll}.def
            --output-delaylib ${dir}/lib${dll}_delay.a --dllname ${dll}.dll
            COMMAND_ERROR_IS_FATAL ANY)
        target_link_libraries(${target} PRIVATE ${dir}/lib${dll}_delay.a)
    endforeach()
    target_link_libraries(${target} PRIVATE delayimp)
endfunction()
