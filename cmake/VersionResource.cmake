# A Windows version resource for `target`: FileVersion, ProductVersion,
# FileDescription, ProductName, OriginalFilename, from the project's version.
# type: VFT_DLL or VFT_APP.
function(add_version_resource target description original_filename type)
  set(RESOURCE_DESCRIPTION ${description})
  set(RESOURCE_ORIGINAL_FILENAME ${original_filename})
  set(RESOURCE_INTERNAL_NAME ${target})
  set(RESOURCE_FILE_TYPE ${type})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()
