# find_package(TalvexUpdater) for an installed talvex-updater: the unpacked release package, or
# a tree made by `cmake --install`. It defines
#   TalvexUpdater::handover    the code that starts the updater (start_updater.h/.cpp) and
#                              reads the outcome of the last update (last_update.h/.cpp),
#                              compiled into each target that links it, by that target's compiler
#   TalvexUpdater::updater     talvex-updater.exe, as an imported executable
#   TalvexUpdater_EXECUTABLE   its path, for the install rule that puts it beside your application
# and TalvexUpdater_VERSION, from the version file beside this one.
get_filename_component(_talvex_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET TalvexUpdater::handover)
  add_library(TalvexUpdater::handover INTERFACE IMPORTED)
  set_target_properties(TalvexUpdater::handover PROPERTIES
    INTERFACE_SOURCES "${_talvex_prefix}/examples/handover/start_updater.cpp;${_talvex_prefix}/examples/handover/last_update.cpp"
    INTERFACE_INCLUDE_DIRECTORIES "${_talvex_prefix}/examples/handover"
    INTERFACE_COMPILE_FEATURES cxx_std_17)
endif()

set(TalvexUpdater_EXECUTABLE "${_talvex_prefix}/bin/talvex-updater.exe")
if(NOT TARGET TalvexUpdater::updater)
  add_executable(TalvexUpdater::updater IMPORTED)
  set_target_properties(TalvexUpdater::updater PROPERTIES
    IMPORTED_LOCATION "${TalvexUpdater_EXECUTABLE}")
endif()
unset(_talvex_prefix)
