# Run by CPack once the package's files are staged, before they are packed: strips the
# programs as Debian's own packaging does, symbols and the .comment and .note sections
# (compiler identification strings nobody needs at run time).
file(GLOB_RECURSE panel_programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
if(NOT panel_programs)
    message(FATAL_ERROR "strip-staged: no programs under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(program IN LISTS panel_programs)
    execute_process(
        COMMAND "${CPACK_PANEL_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "strip-staged: ${CPACK_PANEL_STRIP} failed on ${program}")
    endif()
endforeach()
