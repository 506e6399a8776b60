# CPack post-build step: make every archive CPack just wrote reproducible (normalize_zip.py).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_TALVEX_PYTHON3} ${CPACK_TALVEX_NORMALIZE_ZIP} ${package}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not normalise ${package}")
  endif()
endforeach()
