# cmake -DPEER_BUILD_DIR=... -DPEER_DLL=... -P peer-dll.cmake
# Brings the other architecture's Tessaro.dll up to date in its own build tree and copies it to PEER_DLL
# when it changed (so that the jar is repacked only then). Without that build tree, PEER_DLL is removed.
if(EXISTS ${PEER_BUILD_DIR}/build.ninja)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${PEER_BUILD_DIR} --target Tessaro RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Building Tessaro.dll in ${PEER_BUILD_DIR} failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PEER_BUILD_DIR}/bin/Tessaro.dll ${PEER_DLL})
else()
  message(STATUS "No build tree at ${PEER_BUILD_DIR}: the jar carries this architecture's DLL only")
  file(REMOVE ${PEER_DLL})
endif()
