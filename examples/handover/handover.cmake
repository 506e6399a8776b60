# TalvexUpdater::handover: the handover code as a static library built by the including project's
# compiler. One definition for both ways in, add_subdirectory(<this folder>) and
# find_package(TalvexUpdater), so that either gives the same target; its code is compiled once,
# into this library, and never into the targets that link it.
include_guard(GLOBAL)

set(talvex_handover_sources
  last_update.cpp
  last_update.h
  start_updater.cpp
  start_updater.h)
list(TRANSFORM talvex_handover_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
add_library(talvex_handover STATIC ${talvex_handover_sources})
unset(talvex_handover_sources)
add_library(TalvexUpdater::handover ALIAS talvex_handover)
target_include_directories(talvex_handover PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_features(talvex_handover PUBLIC cxx_std_17)

# TalvexUpdater::updater: the package's talvex-updater.exe, which it keeps in bin/ two levels up,
# as an imported executable, for the install rule that puts it beside the application. Defined
# here once for both ways in; inside talvex-updater's own build the name is instead an alias of
# the target that builds it.
get_filename_component(_talvex_updater_exe ${CMAKE_CURRENT_LIST_DIR}/../../bin/talvex-updater.exe
                       ABSOLUTE)
if(NOT TARGET TalvexUpdater::updater AND EXISTS ${_talvex_updater_exe})
  add_executable(TalvexUpdater::updater IMPORTED GLOBAL)
  set_target_properties(TalvexUpdater::updater PROPERTIES IMPORTED_LOCATION ${_talvex_updater_exe})
endif()
unset(_talvex_updater_exe)
