# Run by CPack on the staged tree: strips the programs as Debian's own tools do. Plain strip, which CPack's
# CPACK_STRIP_FILES runs, keeps the .comment and .note sections that only take room.
foreach(program IN LISTS CPACK_REGBENCH_PROGRAMS)
  set(staged "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_INSTALL_PREFIX}")
  execute_process(COMMAND "${CPACK_REGBENCH_STRIP}" --remove-section=.comment --remove-section=.note
                          --strip-unneeded "${staged}/${CPACK_REGBENCH_PKGLIBDIR}/${program}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
