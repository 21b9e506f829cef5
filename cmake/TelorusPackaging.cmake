# Debian packages through CPack (`cpack -G DEB` in the build directory):
# telorus-viewer (the GTK3 viewer, its desktop entry, icon and man page),
# telorus-tools (telorus-snap and telorus-nc) and libtelorus-dev (the
# libraries, headers, CMake package and pkg-config files). The run-time
# dependencies of the programs are read off the binaries (dpkg-shlibdeps).
include(GNUInstallDirs)

set(TELORUS_PACKAGE_MAINTAINER "Telorus developers <developers@telorus.invalid>"
    CACHE STRING "The Maintainer field of the Debian packages")

set(package_viewer telorus-viewer)
set(package_tools telorus-tools)
set(package_dev libtelorus-dev)

# Each package carries the licence as its copyright file and a compressed
# changelog, as Debian's policy asks.
telorus_gzip_packaging_file(changelog changelog_gz)
foreach(component viewer tools dev)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_${component}} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telorus)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Telorus")
set(CPACK_PACKAGE_CONTACT "${TELORUS_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL viewer tools dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TELORUS_PACKAGE_MAINTAINER}")

set(CPACK_DEBIAN_VIEWER_PACKAGE_NAME ${package_viewer})
set(CPACK_DEBIAN_VIEWER_PACKAGE_SECTION net)
set(CPACK_COMPONENT_VIEWER_DESCRIPTION
    "remote desktop (VNC) viewer for GTK3
 Telorus Viewer shows the desktop of an RFB (VNC) server in a window and
 sends it keys, mouse, wheel and clipboard text. It speaks RFB 3.3 to 3.8,
 with VNC, Plain and TLS/X509 (VeNCrypt) security and the Raw, CopyRect,
 RRE, CoRRE, Hextile, Zlib, Tight (with JPEG), ZRLE and TRLE encodings.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${package_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line tools of the Telorus VNC viewer
 telorus-snap connects to an RFB (VNC) server and saves its screen as a PNG
 file, without a display. telorus-nc drives Telorus's asynchronous socket
 component from a shell: TCP and UDP, listening, SOCKS 4, 4A and 5 proxies
 and line mode.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${package_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(dev_depends "zlib1g-dev")
if(TELORUS_WITH_TLS)
  string(APPEND dev_depends ", libgnutls28-dev")
endif()
if(TELORUS_WITH_JPEG)
  string(APPEND dev_depends ", libturbojpeg0-dev")
endif()
if(TARGET telorus_platform_gtk)
  string(APPEND dev_depends ", libgtk-3-dev, libpixman-1-dev")
endif()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${dev_depends}")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "embeddable VNC viewer component for C++ (development files)
 The Telorus libraries: an asynchronous, event-driven socket component, an
 RFB (VNC) viewer component on top of it, a headless window and a GTK3
 widget to embed the viewer in an application. Static libraries, headers,
 a CMake package (find_package(Telorus)) and pkg-config files (telorus,
 telorus-gtk).")

include(CPack)
