# Where cmake --install and the Debian package put things. Every destination is relative to the install
# prefix, so --prefix ~/.local installs as a normal user and DESTDIR stages a whole tree; only
# REGBENCH_MAP_CONFIG_DIR, which the package sets to /etc/regbench, is absolute.
include(GNUInstallDirs)

# The programs read tabdefs.csv from their own folder, so they live in a folder of their own with the map
# beside them, and bin/ only holds links there. Not CMAKE_INSTALL_LIBDIR: on Debian that is a multiarch
# folder for libraries.
set(REGBENCH_INSTALL_PKGLIBDIR "lib/regbench")
set(REGBENCH_MAP_CONFIG_DIR "" CACHE STRING
    "Absolute folder for the sample map, linked from beside the programs; empty puts the map there itself")
set(REGBENCH_RDNS_PREFIX "org.example" CACHE STRING
    "Reverse domain name that names the desktop entries and the AppStream component")
set(REGBENCH_ICON_NAME "regbench")
set(REGBENCH_LINK_DIR "${PROJECT_BINARY_DIR}/install-links")
file(MAKE_DIRECTORY "${REGBENCH_LINK_DIR}")

# A link made in the build tree and installed as it is: CMake installs a symbolic link as a link.
function(regbench_install_link target_path link_name destination)
  file(CREATE_LINK "${target_path}" "${REGBENCH_LINK_DIR}/${link_name}" SYMBOLIC)
  install(FILES "${REGBENCH_LINK_DIR}/${link_name}" DESTINATION "${destination}")
endfunction()

# Installs one window program: the binary beside the map, its link in bin/, a desktop entry and a manual
# page link. The packaging folder lists every program so registered in the AppStream file.
function(regbench_install_program target name comment)
  install(TARGETS ${target} RUNTIME DESTINATION ${REGBENCH_INSTALL_PKGLIBDIR})

  # Relative, so the link works under any prefix and inside a staged tree.
  file(RELATIVE_PATH to_program "/prefix/${CMAKE_INSTALL_BINDIR}"
       "/prefix/${REGBENCH_INSTALL_PKGLIBDIR}/${target}")
  regbench_install_link("${to_program}" "${target}" "${CMAKE_INSTALL_BINDIR}")
  if(NOT target STREQUAL "regbench")
    regbench_install_link("regbench.1.gz" "${target}.1.gz" "${CMAKE_INSTALL_MANDIR}/man1")
  endif()

  # The entry names the program by its installed path, which is known only at install time (--prefix); a
  # bare name would need ~/.local/bin on the desktop session's PATH.
  set(entry_in "${PROJECT_SOURCE_DIR}/packaging/program.desktop.in")
  set(entry_id "${REGBENCH_RDNS_PREFIX}.${target}.desktop")
  set(entry_out "${PROJECT_BINARY_DIR}/desktop/${entry_id}")
  install(CODE "
    set(REGBENCH_NAME [[${name}]])
    set(REGBENCH_COMMENT [[${comment}]])
    set(REGBENCH_ICON_NAME [[${REGBENCH_ICON_NAME}]])
    set(REGBENCH_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\")
    configure_file([[${entry_in}]] [[${entry_out}]] @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/applications\" TYPE FILE
         FILES [[${entry_out}]])")
  set_property(GLOBAL APPEND PROPERTY REGBENCH_PROGRAMS ${target})
endfunction()

# Installs the sample map where the programs read it, or, with REGBENCH_MAP_CONFIG_DIR, as a configuration
# file there and a link to it beside the programs, so that an engineer edits /etc and an upgrade keeps the
# edit.
function(regbench_install_map file)
  if(REGBENCH_MAP_CONFIG_DIR STREQUAL "")
    install(FILES "${file}" DESTINATION ${REGBENCH_INSTALL_PKGLIBDIR})
  elseif(NOT IS_ABSOLUTE "${REGBENCH_MAP_CONFIG_DIR}")
    message(FATAL_ERROR "REGBENCH_MAP_CONFIG_DIR is not an absolute folder: '${REGBENCH_MAP_CONFIG_DIR}'")
  else()
    install(FILES "${file}" DESTINATION "${REGBENCH_MAP_CONFIG_DIR}")
    get_filename_component(name "${file}" NAME)
    regbench_install_link("${REGBENCH_MAP_CONFIG_DIR}/${name}" "${name}" ${REGBENCH_INSTALL_PKGLIBDIR})
  endif()
endfunction()
