# The commit the sources were built from: its full hash, with "+changes"
# after it when tracked files differ from it, or "unknown" outside a git
# clone. Two builds of one commit name it alike, wherever they are made.
function(source_commit dir out)
  execute_process(COMMAND git -C ${dir} rev-parse HEAD OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed OR NOT commit)
    set(${out} "unknown" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND git -C ${dir} status --porcelain --untracked-files=no OUTPUT_VARIABLE changes
                  ERROR_QUIET)
  if(changes)
    string(APPEND commit "+changes")
  endif()
  set(${out} ${commit} PARENT_SCOPE)
endfunction()

# Gives `target` the header "source_commit.h", which defines
# AIMING_SOURCE_COMMIT as the commit the sources were built from, filled in
# at each build (the function's sources say where it shows).
function(add_source_commit_header target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_commit)
  file(WRITE ${dir}/source_commit.h.in
       "// Generated at each build: the commit the sources were built from.\n"
       "#define AIMING_SOURCE_COMMIT \"@SOURCE_COMMIT@\"\n")
  add_custom_target(${target}_source_commit_header
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DTEMPLATE=${dir}/source_commit.h.in
            -DOUT=${dir}/source_commit.h -P ${PROJECT_SOURCE_DIR}/cmake/SourceCommit.cmake
    BYPRODUCTS ${dir}/source_commit.h
    VERBATIM)
  add_dependencies(${target} ${target}_source_commit_header)
  target_include_directories(${target} PRIVATE ${dir})
endfunction()

# cmake -DSOURCE_DIR=... -DTEMPLATE=... -DOUT=... -P SourceCommit.cmake
# writes OUT from TEMPLATE with @SOURCE_COMMIT@ filled in, and only when that
# changes OUT (so that nothing is rebuilt while the commit stays the same).
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  source_commit(${SOURCE_DIR} SOURCE_COMMIT)
  # The short form, where there is room for a few characters only (the
  # product version, which Explorer's Details tab shows).
  string(REGEX REPLACE "^([0-9a-f]......)[0-9a-f]*" "\\1" SOURCE_COMMIT_SHORT "${SOURCE_COMMIT}")
  configure_file(${TEMPLATE} ${OUT} @ONLY)
endif()
