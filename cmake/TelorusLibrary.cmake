# telorus_library(TARGET EXPORT_NAME source...)
#
# One of the libraries that are installed and exported as Telorus::EXPORT_NAME:
# static by default, shared when BUILD_SHARED_LIBS is on (then with a SONAME
# and only the telorus:: symbols exported). The headers are found as
# "layer/header.h" both in the tree (src/) and once installed
# (include/telorus/), so code that embeds Telorus reads the same either way.
set(TELORUS_EXPORTED_TARGETS "" CACHE INTERNAL "")
set(TELORUS_SYMBOLS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/telorus-symbols.map)

function(telorus_library target export_name)
  add_library(${target} ${ARGN})
  add_library(Telorus::${export_name} ALIAS ${target})
  string(REPLACE "_" "-" file_name "${target}")
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name} OUTPUT_NAME ${file_name})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
                                              $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>
                                              $<INSTALL_INTERFACE:include/telorus>)
  telorus_warnings(${target})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    # 0.x: every minor version may change the ABI, so it is part of the SONAME.
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                          SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
                          VISIBILITY_INLINES_HIDDEN ON
                          # the other Telorus libraries it needs lie beside it
                          INSTALL_RPATH "$ORIGIN")
    if(NOT WIN32)
      target_link_options(${target} PRIVATE -Wl,--version-script=${TELORUS_SYMBOLS_SCRIPT} -Wl,--no-undefined)
      set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TELORUS_SYMBOLS_SCRIPT})
    endif()
  else()
    # Static libraries of ours may end up inside a program's shared library.
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
  set(TELORUS_EXPORTED_TARGETS ${TELORUS_EXPORTED_TARGETS} ${target} CACHE INTERNAL "")
endfunction()
