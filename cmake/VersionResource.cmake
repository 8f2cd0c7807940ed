# Gives `target` a Windows version resource (cmake/version.rc.in): what
# Explorer's Details tab shows, with the commit it was built from, filled in
# at each build (cmake/SourceCommit.cmake).
# type: VFT_DLL or VFT_APP.

# The resource compiler hands its file's name and include folders to the
# preprocessor through a shell, unquoted: a folder name with a ' in it breaks
# that. It reads the file from standard input instead, and needs no include
# folder of ours.
set(CMAKE_RC_COMPILE_OBJECT "<CMAKE_RC_COMPILER> -O coff <DEFINES> <FLAGS> -J rc -o <OBJECT> < <SOURCE>")

function(add_version_resource target description original_filename type)
  set(RESOURCE_DESCRIPTION ${description})
  set(RESOURCE_ORIGINAL_FILENAME ${original_filename})
  set(RESOURCE_INTERNAL_NAME ${target})
  set(RESOURCE_FILE_TYPE ${type})
  set(SOURCE_COMMIT "@SOURCE_COMMIT@")  # left for the build to fill in
  set(SOURCE_COMMIT_SHORT "@SOURCE_COMMIT_SHORT@")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
  add_custom_target(${target}_source_commit
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DTEMPLATE=${rc}.in -DOUT=${rc}
            -P ${PROJECT_SOURCE_DIR}/cmake/SourceCommit.cmake
    BYPRODUCTS ${rc}
    VERBATIM)
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} ${target}_source_commit)
endfunction()
