# Where cmake --install and the Debian package put things. Every destination is relative to the install prefix,
# so --prefix ~/.local installs as a normal user and DESTDIR stages a whole tree; only REGBENCH_MAP_CONFIG_DIR,
# which the package sets to /etc/regbench, is absolute.
include(GNUInstallDirs)

# The programs read tabdefs.csv from their own folder, so each lives in a folder of its own with the map beside
# it, and bin/ only holds links there. Not CMAKE_INSTALL_LIBDIR: on Debian that is a multiarch folder for
# libraries.
set(REGBENCH_INSTALL_PKGLIBDIR "lib/regbench")
set(REGBENCH_MAP_CONFIG_DIR "" CACHE STRING
    "Absolute folder for the sample map, with a link to it beside the programs; empty puts the map there itself")
set(REGBENCH_LINK_DIR "${PROJECT_BINARY_DIR}/install-links")
file(MAKE_DIRECTORY "${REGBENCH_LINK_DIR}")

# A link made in the build tree and installed as it is: CMake installs a symbolic link as a link.
function(regbench_install_link target_path link_name destination)
  file(CREATE_LINK "${target_path}" "${REGBENCH_LINK_DIR}/${link_name}" SYMBOLIC)
  install(FILES "${REGBENCH_LINK_DIR}/${link_name}" DESTINATION "${destination}")
endfunction()

# Installs one window program: the binary beside the map and its link in bin/.
function(regbench_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${REGBENCH_INSTALL_PKGLIBDIR})

  # Relative, so the link works under any prefix and inside a staged tree.
  file(RELATIVE_PATH to_program "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${REGBENCH_INSTALL_PKGLIBDIR}/${target}")
  regbench_install_link("${to_program}" "${target}" "${CMAKE_INSTALL_BINDIR}")
endfunction()

# Installs the sample map where the programs read it, or, with REGBENCH_MAP_CONFIG_DIR, as a configuration
# file there and a link to it beside the programs, so that an engineer edits /etc and an upgrade keeps the edit.
function(regbench_install_map file)
  if(REGBENCH_MAP_CONFIG_DIR STREQUAL "")
    install(FILES "${file}" DESTINATION ${REGBENCH_INSTALL_PKGLIBDIR})
  elseif(NOT IS_ABSOLUTE "${REGBENCH_MAP_CONFIG_DIR}")
    message(FATAL_ERROR "REGBENCH_MAP_CONFIG_DIR must be an absolute folder, not '${REGBENCH_MAP_CONFIG_DIR}'")
  else()
    install(FILES "${file}" DESTINATION "${REGBENCH_MAP_CONFIG_DIR}")
    get_filename_component(name "${file}" NAME)
    regbench_install_link("${REGBENCH_MAP_CONFIG_DIR}/${name}" "${name}" ${REGBENCH_INSTALL_PKGLIBDIR})
  endif()
endfunction()
