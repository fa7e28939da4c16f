# tessaro_library(NAME DIR [LINKS libs...])
# A static library of every .cpp in DIR (not its subdirectories), or a header-only interface library
# while DIR has no sources yet.
function(tessaro_library name dir)
  cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
endfunction()

# tessaro_release_binary(TARGET)
# A binary that ships (bin/): after linking, its debug information moves into bin/.debug/<file>.debug
# (objcopy --only-keep-debug) and the binary itself is stripped and given a debug link to that file,
# where gdb and winedbg look for it.
function(tessaro_release_binary target)
  set(debug_dir $<TARGET_FILE_DIR:${target}>/.debug)
  set(debug_file ${debug_dir}/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${debug_dir}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug_file}
    COMMAND ${CMAKE_OBJCOPY} --strip-debug --strip-unneeded --remove-section=.gnu_debuglink
      --add-gnu-debuglink=${debug_file} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
