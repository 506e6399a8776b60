# CPack post-build step: make every archive CPack just wrote reproducible (normalize_zip.py).
if(NOT CPACK_TALVEX_PYTHON3)
  message(FATAL_ERROR "python3 is needed to make the package reproducible (scripts/install-deps.sh installs it)")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${CPACK_TALVEX_PYTHON3} ${CPACK_TALVEX_NORMALIZE_ZIP} ${package}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not normalise ${package}")
  endif()
endforeach()
