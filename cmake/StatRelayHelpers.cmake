# sr_glob_sources(VAR DIR...) collects the .cc files of each folder (not recursive),
# re-checked at every build so that a new file needs no CMake edit.
function(sr_glob_sources var)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS "${dir}/*.cc")
    list(APPEND result ${found})
  endforeach()
  set(${var} ${result} PARENT_SCOPE)
endfunction()
