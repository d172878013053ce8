# The Debian package of everything `cmake --install` installs:
#
#   cpack -G DEB        (in the build folder)
#
# Its Depends line comes from the shared libraries the binaries need
# (dpkg-shlibdeps, of Debian's dpkg-dev); the binaries are stripped.
set(CPACK_PACKAGE_NAME harmonode)
set(CPACK_PACKAGE_VENDOR "Harmonode")
set(CPACK_PACKAGE_CONTACT "Harmonode developers <developers@harmonode.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music library bridge and installer JNI libraries of Harmonode")
set(CPACK_PACKAGE_DESCRIPTION "\
The desktop side of the Harmonode music synchronisation. HarmonodeAppleMusic
is a helper program that a host starts and drives over its standard input and
output: it exports the music library as one JSON document and imports audio
files into it. libbfgnative and libbfglog are JNI libraries of the Java
installer runtime: privileged execution, alerts and file choosers answered by
a user agent, localized strings, system services, and the system log.
.
The package also holds the headers and the CMake package (Harmonode::appkit,
Harmonode::coreservices, ...) with which a C++ host installs its own user
agent or event receiver in the libraries libbfgnative shares with it.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform libraries in the package's private folder, which the JNI
# libraries need, are found by dpkg-shlibdeps through $ORIGIN.

include(CPack)
