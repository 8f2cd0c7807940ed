# The one strict warning set for the project's own targets.
function(project_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wconversion -Wnon-virtual-dtor -Woverloaded-virtual
    -Wcast-align -Wnull-dereference -Wdouble-promotion -Wformat=2 -Werror)
endfunction()
