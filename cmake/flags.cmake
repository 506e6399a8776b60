# The project's flags, as INTERFACE targets that targets link by name; nothing is set for the
# whole directory tree, so GoogleTest and other third-party code build with their own flags.
#
#   talvex_warnings   the warnings every target of ours is held to
#   talvex_windows    Windows headers' configuration and the static, reproducible link
#   talvex_sanitize   AddressSanitizer and UndefinedBehaviorSanitizer (the native build only)
#   talvex_fuzzing    libFuzzer's coverage feedback, for code that fuzz targets run
#   talvex_code       how our own code is compiled: the product's and its tests'
#   talvex_product    what ships: talvex_code, without RTTI

add_library(talvex_warnings INTERFACE)
target_compile_options(talvex_warnings INTERFACE -Wall -Wextra)

add_library(talvex_windows INTERFACE)
add_library(talvex_sanitize INTERFACE)
add_library(talvex_fuzzing INTERFACE)
if(TALVEX_TARGET_WINDOWS)
  target_compile_definitions(talvex_windows INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
  # -static: libstdc++, libgcc and winpthread are linked in, so only system DLLs are imported.
  # --no-insert-timestamp: two clean builds give byte-identical executables.
  # Where compiler warnings are errors (the presets CI uses), so are the linker's.
  target_link_options(talvex_windows INTERFACE
    -static -Wl,--gc-sections -Wl,--no-insert-timestamp
    $<$<BOOL:${CMAKE_COMPILE_WARNING_AS_ERROR}>:-Wl,--fatal-warnings>)
else()
  # The core on this host is built to be checked, not shipped: every native test runs under
  # AddressSanitizer and UndefinedBehaviorSanitizer, and the first report ends the run.
  set(talvex_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  target_compile_options(talvex_sanitize INTERFACE ${talvex_sanitize_flags})
  target_link_options(talvex_sanitize INTERFACE ${talvex_sanitize_flags})
  # Coverage feedback for the fuzz targets; libFuzzer's own main is linked into them alone.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(talvex_fuzzing INTERFACE -fsanitize=fuzzer-no-link)
  endif()
endif()

# The product never throws (errors are values), and neither do its tests. The updater spends its
# life waiting on other processes, so size matters more than speed; the tests are optimised the
# same way, so the product's inline code they compile is the code that ships.
add_library(talvex_code INTERFACE)
target_compile_options(talvex_code INTERFACE
  $<$<CONFIG:Release>:-Os>
  -fno-exceptions
  -ffunction-sections -fdata-sections
  # Reproducible objects: no build-tree paths baked into the binary.
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
  -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
target_link_libraries(talvex_code INTERFACE
  talvex_warnings talvex_windows talvex_sanitize talvex_fuzzing)

# RTTI goes from the product only (GoogleTest's matchers and typed tests want it).
add_library(talvex_product INTERFACE)
target_compile_options(talvex_product INTERFACE -fno-rtti)
target_link_libraries(talvex_product INTERFACE talvex_code)
