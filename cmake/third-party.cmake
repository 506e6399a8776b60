# What the release says about its contents, made from the link itself:
#
#   THIRD-PARTY-NOTICES.txt     each outside component with code in talvex-updater.exe, its
#                               Debian package and version, and its licence (third_party.py)
#   third-party-components.json the same components and the toolchain, for the bills of materials
#   talvex_add_sbom(...)        one CycloneDX document per artefact (sbom.py), checked against
#                               the schema when the validator is installed
#
# Both artefacts carry LICENSE, the notices and their own bill at their root.
include_guard(GLOBAL)

set(TALVEX_LINK_MAP ${CMAKE_BINARY_DIR}/talvex-updater.map)
set(TALVEX_NOTICES ${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
set(TALVEX_COMPONENTS ${CMAKE_BINARY_DIR}/third-party-components.json)
set(TALVEX_SBOM_NAME talvex-updater.cdx.json)
set(TALVEX_THIRD_PARTY_TABLE ${CMAKE_CURRENT_LIST_DIR}/third-party.json)

# lld's own -Map names archive members without their archive; its MSVC-style map names both.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_link_options(talvex-updater PRIVATE -Wl,-Xlink=-map:${TALVEX_LINK_MAP})
  find_program(TALVEX_LINKER NAMES ld.lld REQUIRED)
else()
  target_link_options(talvex-updater PRIVATE -Wl,-Map=${TALVEX_LINK_MAP})
  set(TALVEX_LINKER ${CMAKE_LINKER})
endif()
# Where the linker looked for what the map names by file name only.
set(talvex_search_dirs ${TALVEX_GCC_RUNTIME_DIR})
foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
  list(APPEND talvex_search_dirs ${root}/lib)
endforeach()
list(TRANSFORM talvex_search_dirs PREPEND --search-dir=)

add_custom_command(
  OUTPUT ${TALVEX_NOTICES} ${TALVEX_COMPONENTS}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/third_party.py
          --map ${TALVEX_LINK_MAP} --table ${TALVEX_THIRD_PARTY_TABLE}
          --version ${PROJECT_VERSION} ${talvex_search_dirs} --own-dir ${CMAKE_BINARY_DIR}/src
          --tool ${CMAKE_CXX_COMPILER} --tool ${TALVEX_LINKER}
          --notices ${TALVEX_NOTICES} --components ${TALVEX_COMPONENTS}
  DEPENDS $<TARGET_FILE:talvex-updater> ${TALVEX_THIRD_PARTY_TABLE}
          ${CMAKE_CURRENT_LIST_DIR}/third_party.py
  COMMENT "Third-party notices from the link map"
  VERBATIM)
# The versions come from the Debian packages of the toolchain. Where there are none (a native
# Windows build) the notices, the bills and the npm package are left out of the default build:
# the tests still build and run, but nothing can be released from such a tree.
find_program(TALVEX_DPKG_QUERY dpkg-query)
if(TALVEX_DPKG_QUERY)
  set(TALVEX_RELEASE_ALL ALL)
else()
  set(TALVEX_RELEASE_ALL "")
  message(WARNING "no dpkg-query: the toolchain's package versions cannot be read, so this tree "
                  "makes no third-party notices, bills of materials or packages")
endif()
add_custom_target(talvex-third-party ${TALVEX_RELEASE_ALL}
                  DEPENDS ${TALVEX_NOTICES} ${TALVEX_COMPONENTS})

# The CycloneDX library that checks each bill (scripts/install-deps.sh installs it).
if(DEFINED ENV{XDG_CACHE_HOME})
  set(talvex_cache $ENV{XDG_CACHE_HOME})
else()
  set(talvex_cache $ENV{HOME}/.cache)
endif()
set(TALVEX_SBOM_VALIDATOR ${talvex_cache}/talvex-updater/sbom-validator
    CACHE PATH "The CycloneDX library installed by scripts/install-deps.sh")
find_program(TALVEX_NODE NAMES node nodejs)
if(TALVEX_NODE AND EXISTS ${TALVEX_SBOM_VALIDATOR}/node_modules/@cyclonedx/cyclonedx-library)
  set(TALVEX_SBOM_CHECK --validator ${TALVEX_SBOM_VALIDATOR} --node ${TALVEX_NODE})
else()
  set(TALVEX_SBOM_CHECK "")
  message(WARNING "no CycloneDX library at ${TALVEX_SBOM_VALIDATOR} (scripts/install-deps.sh "
                  "installs it) or no node: the bills of materials are made but not validated")
endif()

# talvex_sbom_command(<variable> PURL <purl> ROOT <dir> FILES <relative paths...>)
# The command line that writes <dir>/talvex-updater.cdx.json for the listed files.
function(talvex_sbom_command variable)
  cmake_parse_arguments(S "" "PURL;ROOT" "FILES" ${ARGN})
  set(${variable}
      ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/sbom.py --components ${TALVEX_COMPONENTS}
      --version ${PROJECT_VERSION} --purl ${S_PURL} --root ${S_ROOT}
      --out ${S_ROOT}/${TALVEX_SBOM_NAME} --source-dir ${PROJECT_SOURCE_DIR} ${TALVEX_SBOM_CHECK}
      ${S_FILES} PARENT_SCOPE)
endfunction()
