# What `cmake --install` puts where, on Linux: the libraries and their public
# headers (include/telorus/), the CMake package (lib/cmake/Telorus) and the
# pkg-config files, the tools with their man pages, and the viewer's desktop
# entry and icon. Install components: dev, tools, viewer (the Debian packages
# libtelorus-dev, telorus-tools and telorus-viewer).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TELORUS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Telorus)

install(TARGETS ${TELORUS_EXPORTED_TARGETS} EXPORT TelorusTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev NAMELINK_COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/telorus)

# Every header of the installed layers; the Windows platform code is not built here.
set(header_excludes PATTERN win32 EXCLUDE)
if(NOT TARGET telorus_platform_gtk)
  list(APPEND header_excludes PATTERN gtk EXCLUDE)
endif()
foreach(layer platform socket viewer)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${layer} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/telorus COMPONENT dev
          FILES_MATCHING PATTERN "*.h" ${header_excludes})
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/generated/telorus_version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/telorus
        COMPONENT dev)

# The CMake package: find_package(Telorus 0.1 COMPONENTS gtk).
if(TARGET telorus_tls)
  set(TELORUS_WITH_TLS ON)
else()
  set(TELORUS_WITH_TLS OFF)
endif()
if(TURBOJPEG_FOUND)
  set(TELORUS_WITH_JPEG ON)
else()
  set(TELORUS_WITH_JPEG OFF)
endif()
if(BUILD_SHARED_LIBS)
  set(TELORUS_SHARED ON)
else()
  set(TELORUS_SHARED OFF)
endif()
if(TARGET telorus_platform_gtk)
  set(TELORUS_WITH_GTK ON)
else()
  set(TELORUS_WITH_GTK OFF)
endif()
install(EXPORT TelorusTargets NAMESPACE Telorus:: DESTINATION ${TELORUS_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TelorusConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/TelorusConfig.cmake INSTALL_DESTINATION ${TELORUS_CMAKE_DIR})
# 0.x: a newer minor version may change the interface, so only the same minor one answers.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TelorusConfigVersion.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TelorusConfig.cmake ${PROJECT_BINARY_DIR}/TelorusConfigVersion.cmake
        DESTINATION ${TELORUS_CMAKE_DIR} COMPONENT dev)

# pkg-config: telorus (the viewer component, the socket component, the
# headless window) and telorus-gtk (the GTK3 widget). A static library's own
# dependencies have to be linked by whoever links it, so with static
# libraries they are Requires, with shared ones Requires.private.
set(pc_deps zlib)
if(TELORUS_WITH_TLS)
  list(APPEND pc_deps gnutls)
endif()
if(TELORUS_WITH_JPEG)
  list(APPEND pc_deps libturbojpeg)
endif()
list(JOIN pc_deps " " pc_deps)
if(BUILD_SHARED_LIBS)
  set(TELORUS_PC_REQUIRES "")
  set(TELORUS_PC_REQUIRES_PRIVATE "${pc_deps}")
  set(TELORUS_PC_GTK_REQUIRES_PRIVATE "pixman-1")
  set(TELORUS_PC_GTK_REQUIRES "telorus = ${PROJECT_VERSION}, gtk+-3.0")
else()
  set(TELORUS_PC_REQUIRES "${pc_deps}")
  set(TELORUS_PC_REQUIRES_PRIVATE "")
  set(TELORUS_PC_GTK_REQUIRES_PRIVATE "")
  set(TELORUS_PC_GTK_REQUIRES "telorus = ${PROJECT_VERSION}, gtk+-3.0, pixman-1")
endif()
set(TELORUS_PC_LIBS "-ltelorus-viewer")
if(TELORUS_WITH_TLS)
  string(APPEND TELORUS_PC_LIBS " -ltelorus-tls")
  set(TELORUS_PC_CFLAGS "-DTELORUS_HAVE_TLS=1")
endif()
string(APPEND TELORUS_PC_LIBS " -ltelorus-viewer-core -ltelorus-socket -ltelorus-platform-headless -ltelorus-platform")
if(NOT BUILD_SHARED_LIBS)
  string(APPEND TELORUS_PC_LIBS " -pthread")
endif()
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TELORUS_PC_TO_PREFIX /${pc_dir} /)
string(REGEX REPLACE "/$" "" TELORUS_PC_TO_PREFIX "${TELORUS_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/telorus.pc.in ${PROJECT_BINARY_DIR}/telorus.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/telorus.pc DESTINATION ${pc_dir} COMPONENT dev)
if(TELORUS_WITH_GTK)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/telorus-gtk.pc.in ${PROJECT_BINARY_DIR}/telorus-gtk.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/telorus-gtk.pc DESTINATION ${pc_dir} COMPONENT dev)
endif()

# packaging/NAME compressed into the build's packaging/NAME.gz (gzip -9n:
# the same bytes on every build); its path in OUT. Configuring again follows
# an edit of the source.
function(telorus_gzip_packaging_file name out)
  set(gz ${PROJECT_BINARY_DIR}/packaging/${name}.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
  execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/${name} OUTPUT_FILE ${gz} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on packaging/${name}")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/packaging/${name})
  set(${out} ${gz} PARENT_SCOPE)
endfunction()

# A man page from packaging/, installed compressed.
function(telorus_install_man_page page component)
  telorus_gzip_packaging_file(${page} gz)
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# The tools, found beside their libraries when these are shared.
if(BUILD_SHARED_LIBS)
  foreach(tool telorus-snap telorus-nc telorus-viewer)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
  endforeach()
endif()
install(TARGETS telorus-snap telorus-nc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
telorus_install_man_page(telorus-snap.1 tools)
telorus_install_man_page(telorus-nc.1 tools)
if(TARGET telorus-viewer)
  install(TARGETS telorus-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT viewer)
  telorus_install_man_page(telorus-viewer.1 viewer)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/telorus-viewer.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT viewer)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/telorus-viewer.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT viewer)
endif()
