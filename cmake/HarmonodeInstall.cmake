# What `cmake --install` installs (folders: cmake/HarmonodeInstallDirs.cmake),
# and the CMake package of a C++ host: find_package(Harmonode CONFIG).
#
# The platform libraries that hold the one application, main queue, class
# registry and event registry of a process stay shared libraries in the
# private library folder; libbfgnative and libplatform_appkit find theirs there
# through $ORIGIN, and a host that links them gets the same copies.

# The bridge and what ships with it.
install(TARGETS HarmonodeAppleMusic EXPORT HarmonodeTargets RUNTIME DESTINATION ${HARMONODE_INSTALL_PROGRAMDIR})
install(FILES ${PROJECT_SOURCE_DIR}/samples/sample.mp3 DESTINATION ${HARMONODE_INSTALL_DATADIR})
set_target_properties(HarmonodeAppleMusic PROPERTIES EXPORT_NAME bridge)
add_executable(Harmonode::bridge ALIAS HarmonodeAppleMusic)

# Exports `target` as Harmonode::<name> with its faces, which a host includes
# as in this tree ("platform/appkit/NSApplication.h").
function(harmonode_export target name)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} INSTALL_RPATH "$ORIGIN")
  add_library(Harmonode::${name} ALIAS ${target})
  get_target_property(faces ${target} HARMONODE_FACES)
  if(faces)
    target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${HARMONODE_INSTALL_INCLUDEDIR}>)
  else()
    set(faces)
  endif()
  foreach(face IN LISTS faces)
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${face})
    get_filename_component(folder ${relative} DIRECTORY)
    install(FILES ${face} DESTINATION ${HARMONODE_INSTALL_INCLUDEDIR}/${folder})
  endforeach()
  install(TARGETS ${target} EXPORT HarmonodeTargets
    LIBRARY DESTINATION ${HARMONODE_INSTALL_LIBRARYDIR}
    ARCHIVE DESTINATION ${HARMONODE_INSTALL_LIBRARYDIR})
endfunction()

# Without the native libraries there is nothing for a C++ host.
if(HARMONODE_NATIVE)
  # What a C++ host links to install a user agent (appkit, with URLs of
  # foundation and the main queue of dispatch), an event receiver
  # (coreservices) or its window classes (objc).
  harmonode_export(platform_foundation foundation)
  # Stripped installs (cmake --install --strip, the package) take the debug
  # information out of the static library too, as Debian's packaging does.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP AND NOT \"${CMAKE_STRIP}\" STREQUAL \"\")
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${HARMONODE_INSTALL_LIBRARYDIR}/$<TARGET_FILE_NAME:platform_foundation>\")
  endif()")
  harmonode_export(platform_objc objc)
  harmonode_export(platform_dispatch dispatch)
  harmonode_export(platform_appkit appkit)
  harmonode_export(platform_coreservices coreservices)
  # The JNI libraries, which a Java VM loads by path; exported so that a
  # host's build can name their installed files
  # ($<TARGET_FILE:Harmonode::bfgnative>).
  harmonode_export(bfgnative bfgnative)
  harmonode_export(bfglog bfglog)

  include(CMakePackageConfigHelpers)
  install(EXPORT HarmonodeTargets NAMESPACE Harmonode:: DESTINATION ${HARMONODE_INSTALL_CMAKEDIR})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HarmonodeConfig.cmake.in
    ${PROJECT_BINARY_DIR}/HarmonodeConfig.cmake
    INSTALL_DESTINATION ${HARMONODE_INSTALL_CMAKEDIR}
    PATH_VARS HARMONODE_INSTALL_LIBRARYDIR HARMONODE_INSTALL_PROGRAMDIR)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/HarmonodeConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/HarmonodeConfig.cmake ${PROJECT_BINARY_DIR}/HarmonodeConfigVersion.cmake
    DESTINATION ${HARMONODE_INSTALL_CMAKEDIR})
endif()
