# Installation, the CMake package (find_package(aacstream) with the imported targets
# aacstream::aacstream (shared) and aacstream::aacstream_static), the pkg-config file, and the
# Debian package built by `cpack -G DEB`.
include(CMakePackageConfigHelpers)

set(AACS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/aacstream)

set_target_properties(aacstream_shared PROPERTIES EXPORT_NAME aacstream)
set_target_properties(aacstream_static PROPERTIES EXPORT_NAME aacstream_static)
# The library is C++ inside: a C host that links the static archive needs the C++ runtime too.
target_link_libraries(aacstream_static INTERFACE $<$<LINK_LANGUAGE:C>:stdc++>)

install(TARGETS aacstream_static aacstream_shared EXPORT aacstreamTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/aacstream DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT aacstreamTargets NAMESPACE aacstream:: DESTINATION ${AACS_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/aacstreamConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/aacstreamConfig.cmake INSTALL_DESTINATION ${AACS_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/aacstreamConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/aacstreamConfig.cmake
  ${PROJECT_BINARY_DIR}/cmake/aacstreamConfigVersion.cmake DESTINATION ${AACS_CMAKE_DIR})

# pkg-config: the prefix is the one the files are installed under (cmake --install --prefix, or
# /usr inside the Debian package), so it is filled in at install time.
set(AACS_PC_PREFIX "@AACS_PC_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/aacstream.pc.in ${PROJECT_BINARY_DIR}/cmake/aacstream.pc.in @ONLY)
install(CODE "
  file(READ \"${PROJECT_BINARY_DIR}/cmake/aacstream.pc.in\" aacs_pc)
  string(REPLACE \"@AACS_PC_PREFIX@\" \"\${CMAKE_INSTALL_PREFIX}\" aacs_pc \"\${aacs_pc}\")
  file(WRITE \"${PROJECT_BINARY_DIR}/cmake/pkgconfig/aacstream.pc\" \"\${aacs_pc}\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\" TYPE FILE
       FILES \"${PROJECT_BINARY_DIR}/cmake/pkgconfig/aacstream.pc\")
")

# The sample `aacstream --demo` encodes, and the documentation.
install(FILES samples/orchestral_desert.wav samples/LICENSE.md DESTINATION ${CMAKE_INSTALL_DATADIR}/aacstream/samples)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME aacstream)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "aacstream developers")
set(CPACK_PACKAGE_CONTACT "aacstream developers <aacstream-dev@lists.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MPEG-2/MPEG-4 AAC audio encoder: library and command-line tool")
set(CPACK_PACKAGE_DESCRIPTION "aacstream encodes PCM audio to AAC (LC profile; ADTS, ADIF, raw or M4A).
It provides the libaacstream shared and static libraries with a C interface, the
aacstream command-line encoder (WAV to M4A/AAC), a CMake package and a pkg-config file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ffmpeg, faad")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
find_program(AACS_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(AACS_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the dependencies the binaries really have
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0)")
endif()
include(CPack)
