# What a vendor ships: `cmake --install` lays out the kit, `cpack --preset release` zips it as
# talvex-updater-<version>-win64.zip. The version is the project's VERSION and nothing else.
#
#   bin/talvex-updater.exe
#   docs/                      integration guide, command-line and log reference
#   examples/handover/         start_updater.h/.cpp, last_update.h/.cpp and their CMake library
#   examples/installer/        NSIS and WiX templates for the application's installer
#   examples/demo-app/         the demo application that uses the handover code
#   examples/README.md         what the examples are
#   lib/cmake/TalvexUpdater/   find_package(TalvexUpdater)
#   LICENSE                    talvex-updater's licence (MIT)
#   SECURITY.md, CHANGELOG.md  what it trusts and how to report a vulnerability; what changed
#   THIRD-PARTY-NOTICES.txt    what else talvex-updater.exe contains, and its licences
#   talvex-updater.cdx.json    the bill of materials (CycloneDX): every file but SHA256SUMS
#   SHA256SUMS                 every other file, in sha256sum format
#
# The folders mirror the source tree, so the links between the documents hold in both.
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

# The same name inside this build as through find_package or the package's handover folder.
add_executable(TalvexUpdater::updater ALIAS talvex-updater)

install(TARGETS talvex-updater RUNTIME DESTINATION bin)
# The files shipped exactly as they are in the source tree, each into the package's folder of the
# same name. The one list of them: the package check compares each with its source
# (TALVEX_SHIPPED_SOURCES_FILE).
set(TALVEX_SHIPPED_SOURCES
  LICENSE SECURITY.md CHANGELOG.md
  docs/integrating.md docs/electron.md docs/rust.md docs/go.md docs/command-line.md docs/log.md
  examples/README.md
  examples/handover/start_updater.h examples/handover/start_updater.cpp
  examples/handover/last_update.h examples/handover/last_update.cpp
  examples/handover/CMakeLists.txt examples/handover/handover.cmake
  examples/installer/demo-app.nsi examples/installer/demo-app.wxs
  examples/demo-app/demo_app.cpp)
foreach(talvex_file IN LISTS TALVEX_SHIPPED_SOURCES)
  get_filename_component(talvex_dir ${talvex_file} DIRECTORY)
  if(NOT talvex_dir)
    set(talvex_dir .)
  endif()
  install(FILES ${talvex_file} DESTINATION ${talvex_dir})
endforeach()
set(TALVEX_SHIPPED_SOURCES_FILE ${CMAKE_CURRENT_BINARY_DIR}/shipped-sources.txt)
list(JOIN TALVEX_SHIPPED_SOURCES "\n" talvex_file)
file(WRITE ${TALVEX_SHIPPED_SOURCES_FILE} "${talvex_file}\n")
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/TalvexUpdaterConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion
  # The handover code is source and the executable runs beside 32-bit applications too.
  ARCH_INDEPENDENT)
install(FILES cmake/TalvexUpdaterConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/TalvexUpdaterConfigVersion.cmake
        DESTINATION lib/cmake/TalvexUpdater)

install(FILES ${TALVEX_NOTICES} DESTINATION .)

# Then the bill of materials of exactly the files installed so far, and last the checksums, which
# cover the bill too.
set(talvex_sbom_code [[
  get_filename_component(talvex_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  set(talvex_relatives "")
  foreach(talvex_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    get_filename_component(talvex_file "${talvex_file}" ABSOLUTE)
    file(RELATIVE_PATH talvex_relative "${talvex_prefix}" "${talvex_file}")
    list(APPEND talvex_relatives "${talvex_relative}")
  endforeach()
  list(REMOVE_ITEM talvex_relatives "@TALVEX_SBOM_NAME@" "SHA256SUMS")
  list(REMOVE_DUPLICATES talvex_relatives)
  message(STATUS "Writing: $ENV{DESTDIR}${talvex_prefix}/@TALVEX_SBOM_NAME@")
  execute_process(COMMAND @talvex_sbom@ ${talvex_relatives} RESULT_VARIABLE talvex_status)
  if(NOT talvex_status EQUAL 0)
    message(FATAL_ERROR "no bill of materials for the package")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${talvex_prefix}/@TALVEX_SBOM_NAME@")
]])
talvex_sbom_command(talvex_sbom PURL pkg:generic/talvex-updater@${PROJECT_VERSION}
                    ROOT "\$ENV{DESTDIR}\${talvex_prefix}" FILES)
list(JOIN talvex_sbom " " talvex_sbom)
string(CONFIGURE "${talvex_sbom_code}" talvex_sbom_code @ONLY)
install(CODE "${talvex_sbom_code}")

# Last: the checksums of exactly the files installed above (the install manifest so far), not of
# whatever else lies in the prefix. Paths are relative to the prefix, sorted, so that
# `sha256sum -c SHA256SUMS` run there checks every other file of the package.
install(CODE [[
  # The manifest names files without DESTDIR; make them and the prefix absolute, for
  # `cmake --install --prefix <relative dir>`.
  get_filename_component(talvex_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  set(talvex_sums "")
  set(talvex_files ${CMAKE_INSTALL_MANIFEST_FILES})
  list(REMOVE_DUPLICATES talvex_files)
  list(SORT talvex_files)
  foreach(talvex_file IN LISTS talvex_files)
    get_filename_component(talvex_file "${talvex_file}" ABSOLUTE)
    file(RELATIVE_PATH talvex_relative "${talvex_prefix}" "${talvex_file}")
    if(talvex_relative STREQUAL "SHA256SUMS")
      continue()
    endif()
    if(talvex_relative MATCHES "^\\.\\./")
      message(FATAL_ERROR "SHA256SUMS: ${talvex_file} lies outside ${talvex_prefix}")
    endif()
    file(SHA256 "$ENV{DESTDIR}${talvex_file}" talvex_hash)
    string(APPEND talvex_sums "${talvex_hash}  ${talvex_relative}\n")
  endforeach()
  message(STATUS "Writing: $ENV{DESTDIR}${talvex_prefix}/SHA256SUMS")
  file(WRITE "$ENV{DESTDIR}${talvex_prefix}/SHA256SUMS" "${talvex_sums}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${talvex_prefix}/SHA256SUMS")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME talvex-updater)
set(CPACK_PACKAGE_FILE_NAME talvex-updater-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_VERBATIM_VARIABLES ON)
# CPack's ZIP generator stores each file's change time, which no touching of the staged files
# fixes: rewrite the archive once it is made, with sorted entries and one fixed date.
set(CPACK_TALVEX_PYTHON3 ${Python3_EXECUTABLE})
set(CPACK_TALVEX_NORMALIZE_ZIP ${CMAKE_CURRENT_LIST_DIR}/normalize_zip.py)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/normalize-package.cmake)
include(CPack)
