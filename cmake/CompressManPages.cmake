# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files before they are packed: Debian
# keeps manual pages compressed with gzip -9n (-n: no name or time stamp, so that the same
# page gives the same bytes). A plain cmake --install leaves them as they are.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
set(pages ${staged})
list(FILTER pages INCLUDE REGEX "/share/man/man[1-9]/[^/]+\\.[1-9]$")
if(NOT pages)
    message(FATAL_ERROR "no manual page below ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip failed on ${page}")
    endif()
endforeach()
