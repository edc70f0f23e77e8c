# Run by CPack once the package's files are staged, before they are packed: strips the
# programs and the programs' modules as Debian's own packaging does, symbols and the .comment
# and .note sections (compiler identification strings nobody needs at run time); a module
# keeps the symbols it is loaded by.
file(GLOB_RECURSE panel_programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
if(NOT panel_programs)
    message(FATAL_ERROR "strip-staged: no programs under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
file(GLOB_RECURSE panel_modules LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.so")
function(panel_strip file)
    execute_process(
        COMMAND "${CPACK_PANEL_STRIP}" ${ARGN} --remove-section=.comment --remove-section=.note "${file}"
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "strip-staged: ${CPACK_PANEL_STRIP} failed on ${file}")
    endif()
endfunction()
foreach(program IN LISTS panel_programs)
    panel_strip("${program}")
endforeach()
foreach(module IN LISTS panel_modules)
    panel_strip("${module}" --strip-unneeded)
endforeach()
