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

# cmake -DSOURCE_DIR=... -DTEMPLATE=... -DOUT=... -P SourceCommit.cmake
# writes OUT from TEMPLATE with @SOURCE_COMMIT@ filled in, and only when that
# changes OUT (so that nothing is rebuilt while the commit stays the same).
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  source_commit(${SOURCE_DIR} SOURCE_COMMIT)
  configure_file(${TEMPLATE} ${OUT} @ONLY)
endif()
