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

# sr_ship_dll(TARGET NAME DESCRIPTION): on Windows, gives the DLL a version
# resource; with STATRELAY_SPLIT_DEBUG, moves its symbols into NAME.dll.debug
# beside it (linked by .gnu_debuglink) and strips the DLL.
function(sr_ship_dll target name description)
  if(NOT WIN32)
    return()
  endif()
  set(SR_RC_NAME ${name})
  set(SR_RC_DESCRIPTION ${description})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
  if(STATRELAY_SPLIT_DEBUG)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
      COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug $<TARGET_FILE:${target}>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
      VERBATIM)
  endif()
endfunction()

# sr_add_subdirectories([EXCEPT name...]): adds every folder of the current
# source folder that has a CMakeLists.txt, but those named after EXCEPT; the
# list is re-checked at every build so that a new folder needs no CMake edit.
function(sr_add_subdirectories)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "EXCEPT")
  file(GLOB dirs LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(dir IN LISTS dirs)
    cmake_path(GET dir FILENAME name)
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/CMakeLists.txt AND NOT name IN_LIST arg_EXCEPT)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()
