# Shared by the Rust and Go kits' tests: the project's version as their sources carry it, and
# the Windows updater as a Windows program of the test run sees it.

# Fails the configuration when `file` does not carry the project's version on its line that
# matches `regex` (with the version as its first group): a kit never ships another version.
function(talvex_check_kit_version file regex)
  file(STRINGS ${file} lines REGEX "${regex}")
  string(REGEX REPLACE ".*${regex}.*" "\\1" version "${lines}")
  if(NOT version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "${file} says version '${version}', the project is ${PROJECT_VERSION}")
  endif()
endfunction()

# The path of this build's talvex-updater.exe for a Windows program: under Wine, drive Z: is
# this host's root.
function(talvex_windows_updater_path out)
  set(path ${CMAKE_BINARY_DIR}/bin/talvex-updater.exe)
  if(TALVEX_WINE)
    string(REPLACE "/" "\\" path "Z:${path}")
  else()
    file(TO_NATIVE_PATH ${path} path)
  endif()
  set(${out} ${path} PARENT_SCOPE)
endfunction()

# The command prefix that runs a Windows program of the test run: under Wine, the build tree's
# prefix (tests/wine/wine-run.sh); natively, none.
if(TALVEX_WINE)
  set(TALVEX_KIT_WINDOWS_RUNNER "${PROJECT_SOURCE_DIR}/tests/wine/wine-run.sh ${TALVEX_WINE_PREFIX}")
else()
  set(TALVEX_KIT_WINDOWS_RUNNER "")
endif()

# A kit's test that runs Windows programs: labelled with the kit, and under Wine inside the
# prefix the "wine" fixture of tests/CMakeLists.txt brings up and takes down.
function(talvex_kit_windows_test name label)
  set_tests_properties(${name} PROPERTIES LABELS ${label} TIMEOUT 300)
  if(TALVEX_WINE)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()
