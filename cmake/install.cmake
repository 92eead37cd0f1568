# `cmake --install`: the library with its header, the command-line tool, the
# Python tools, a CMake package and a pkg-config file. Whatever refers to
# another installed file does so relative to itself, so the tree works under
# any prefix (`cmake --install build --prefix DIR`, a Debian package).
include(CMakePackageConfigHelpers)

# Everything is component "korva" but the default voice (hundreds of MB), which is
# "voice": `cmake --install build --component korva` leaves it out.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME korva)

set(KORVA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/korva)
set(KORVA_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(KORVA_INSTALL_LINKS ${CMAKE_BINARY_DIR}/install-links)

# The relative path from installed directory `from` to installed file or directory `to`.
function(korva_install_relative out from to)
  file(RELATIVE_PATH rel /prefix/${from} /prefix/${to})
  set(${out} ${rel} PARENT_SCOPE)
endfunction()

# A relative symbolic link `name`, installed into `dir`, to the installed `target`.
function(korva_install_link dir name target)
  korva_install_relative(rel ${dir} ${target})
  file(MAKE_DIRECTORY ${KORVA_INSTALL_LINKS}/${dir})
  file(CREATE_LINK ${rel} ${KORVA_INSTALL_LINKS}/${dir}/${name} SYMBOLIC)
  install(FILES ${KORVA_INSTALL_LINKS}/${dir}/${name} DESTINATION ${dir})
endfunction()

install(TARGETS korva LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/korva.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

korva_install_relative(cli_to_lib ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR})
set_target_properties(korva_cli PROPERTIES INSTALL_RPATH "$ORIGIN/${cli_to_lib}")
install(TARGETS korva_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Installed only when it was built; `korva speak` finds it from bin/.
install(FILES ${KORVA_DEFAULT_VOICE} DESTINATION ${KORVA_INSTALL_DATADIR} COMPONENT voice OPTIONAL)

# The Python tools keep their layout (korva-voice imports the exporter's modules
# from ../export); bin/ holds links to their entry points.
foreach(tool export voice)
  file(GLOB modules CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/${tool}/*.py)
  install(FILES ${modules} DESTINATION ${KORVA_INSTALL_DATADIR}/${tool})
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/${tool}/korva-${tool}
          DESTINATION ${KORVA_INSTALL_DATADIR}/${tool})
  korva_install_link(${CMAKE_INSTALL_BINDIR} korva-${tool} ${KORVA_INSTALL_DATADIR}/${tool}/korva-${tool})
endforeach()

# The Python package, with a link to the library beside it, where it looks first.
set(KORVA_INSTALL_PYTHONDIR lib/python3/dist-packages CACHE STRING
    "Where the Python package is installed, relative to the prefix")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/korva DESTINATION ${KORVA_INSTALL_PYTHONDIR}
        FILES_MATCHING PATTERN "*.py" PATTERN __pycache__ EXCLUDE)
korva_install_link(${KORVA_INSTALL_PYTHONDIR}/korva libkorva.so.${PROJECT_VERSION_MAJOR}
                   ${CMAKE_INSTALL_LIBDIR}/libkorva.so.${PROJECT_VERSION_MAJOR})

# CMake package: korva::korva is the shared library and its header, nothing more:
# libtorch and espeak-ng stay behind the C interface, so a consumer needs neither's
# CMake files.
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/korvaConfig.cmake.in
  ${CMAKE_BINARY_DIR}/korvaConfig.cmake
  INSTALL_DESTINATION ${KORVA_INSTALL_CMAKEDIR}
  PATH_VARS CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/korvaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/korvaConfig.cmake ${CMAKE_BINARY_DIR}/korvaConfigVersion.cmake
  DESTINATION ${KORVA_INSTALL_CMAKEDIR})

korva_install_relative(KORVA_PC_TO_PREFIX ${KORVA_INSTALL_PKGCONFIGDIR} .)
configure_file(${CMAKE_SOURCE_DIR}/cmake/korva.pc.in ${CMAKE_BINARY_DIR}/korva.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/korva.pc DESTINATION ${KORVA_INSTALL_PKGCONFIGDIR})
