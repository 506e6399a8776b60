# find_package(TalvexUpdater) for an installed talvex-updater: the unpacked release package, or
# a tree made by `cmake --install`. It defines
#   TalvexUpdater::handover    the code that starts the updater (start_updater.h/.cpp) and
#                              reads the outcome of the last update (last_update.h/.cpp), a
#                              static library your compiler builds, as add_subdirectory of the
#                              package's examples/handover gives
#   TalvexUpdater::updater     talvex-updater.exe, as an imported executable
#   TalvexUpdater_EXECUTABLE   its path, for the install rule that puts it beside your application
# and TalvexUpdater_VERSION, from the version file beside this one.
get_filename_component(_talvex_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

# The handover library and the imported executable, as the package's handover folder defines them.
if(NOT TARGET TalvexUpdater::handover)
  include("${_talvex_prefix}/examples/handover/handover.cmake")
endif()

set(TalvexUpdater_EXECUTABLE "${_talvex_prefix}/bin/talvex-updater.exe")
unset(_talvex_prefix)
