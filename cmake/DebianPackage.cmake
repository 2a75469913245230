# Run by cpack on the staged files before it builds the Debian package: the
# manual pages go compressed and the licence becomes the package's copyright
# file, where Debian's conventions want them.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(stage "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
file(GLOB pages "${stage}/share/man/man1/*.1" "${stage}/share/man/man5/*.5")
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${page}: ${rc}")
  endif()
endforeach()
file(MAKE_DIRECTORY "${stage}/share/doc/vornterm")
file(COPY_FILE "${CPACK_VORNTERM_LICENSE}" "${stage}/share/doc/vornterm/copyright"
     ONLY_IF_DIFFERENT)
