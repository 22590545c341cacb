# CLI11 for the MinGW build: the build machine's headers, copied away from /usr/include so that no
# other Linux header can be picked up by the Windows compiler.
if(NOT TARGET CLI11::CLI11)
  set(_cli11_copy ${CMAKE_BINARY_DIR}/cli11-include)
  file(COPY /usr/include/CLI DESTINATION ${_cli11_copy})
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_cli11_copy})
endif()
set(CLI11_FOUND TRUE)
