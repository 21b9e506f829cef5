# The Windows bundle: `cmake --build --preset windows --target windows_bundle`
# writes telorus-VERSION-windows.zip into the build directory, holding the
# control and telorus-host for each architecture built (x64\ here), the
# register.cmd/unregister.cmd pair, the embedding notes and the licence.
set(bundle_name telorus-${PROJECT_VERSION}-windows)
set(bundle_dir ${PROJECT_BINARY_DIR}/bundle/${bundle_name})
set(bundle_zip ${PROJECT_BINARY_DIR}/${bundle_name}.zip)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(bundle_arch x64)
else()
  set(bundle_arch x86)
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/EMBEDDING.txt ${PROJECT_BINARY_DIR}/bundle/EMBEDDING.txt
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/bundle/LICENSE.txt COPYONLY)
add_custom_command(
  OUTPUT ${bundle_zip}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${bundle_dir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${bundle_dir}/${bundle_arch}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:TelorusXControl> $<TARGET_FILE:telorus-host> ${bundle_dir}/${bundle_arch}
  # Without their debug information (the build keeps it).
  COMMAND ${CMAKE_STRIP} --strip-debug ${bundle_dir}/${bundle_arch}/TelorusXControl.dll
          ${bundle_dir}/${bundle_arch}/telorus-host.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/windows/register.cmd
          ${PROJECT_SOURCE_DIR}/packaging/windows/unregister.cmd ${PROJECT_BINARY_DIR}/bundle/EMBEDDING.txt
          ${PROJECT_BINARY_DIR}/bundle/LICENSE.txt ${bundle_dir}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${bundle_zip}
  COMMAND ${CMAKE_COMMAND} -E chdir ${PROJECT_BINARY_DIR}/bundle ${CMAKE_COMMAND} -E tar cf ${bundle_zip} --format=zip
          ${bundle_name}
  DEPENDS TelorusXControl telorus-host ${PROJECT_SOURCE_DIR}/packaging/windows/register.cmd
          ${PROJECT_SOURCE_DIR}/packaging/windows/unregister.cmd ${PROJECT_BINARY_DIR}/bundle/EMBEDDING.txt
  COMMENT "Writing ${bundle_name}.zip"
  VERBATIM)
add_custom_target(windows_bundle DEPENDS ${bundle_zip})
