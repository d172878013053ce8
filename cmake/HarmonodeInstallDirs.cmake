# Where the deliverables are installed, relative to the prefix: the layout of
# the Debian package, whatever the prefix.
#
#   libexec/harmonode/             the bridge, and any helper program it starts
#   lib/<multiarch>/harmonode/     the JNI libraries and the platform libraries
#                                  they share with a C++ host, found through
#                                  $ORIGIN; the static foundation library
#   lib/<multiarch>/cmake/Harmonode/   the CMake package of a C++ host
#   include/harmonode/             the faces a C++ host includes
#   share/harmonode/               the sample audio file of the bridge's `test`
#
# The library folder is the multiarch one wherever the platform has one (not
# only under /usr, where GNUInstallDirs would choose it), so that a package
# made from any build has one layout.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)

set(HARMONODE_INSTALL_PROGRAMDIR ${CMAKE_INSTALL_LIBEXECDIR}/harmonode)
set(HARMONODE_INSTALL_LIBRARYDIR ${CMAKE_INSTALL_LIBDIR}/harmonode)
set(HARMONODE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Harmonode)
set(HARMONODE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/harmonode)
set(HARMONODE_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/harmonode)

# The data folder as the bridge finds it from its own folder once installed
# ("../../share/harmonode"), so that it is found wherever the prefix is.
file(RELATIVE_PATH HARMONODE_DATA_FROM_PROGRAMS
  ${CMAKE_INSTALL_FULL_LIBEXECDIR}/harmonode ${CMAKE_INSTALL_FULL_DATADIR}/harmonode)

# Puts a helper program that the bridge starts beside the bridge: in the
# bridge's own build folder, and in its install folder. The bridge finds it
# with platform::besideExecutable("<name>") (platform/foundation/Executable.h).
#
#   harmonode_bridge_helper(<executable target>)
function(harmonode_bridge_helper target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bridge)
  install(TARGETS ${target} RUNTIME DESTINATION ${HARMONODE_INSTALL_PROGRAMDIR})
endfunction()
