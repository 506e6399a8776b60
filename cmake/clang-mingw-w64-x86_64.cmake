# Cross-compiling for 64-bit Windows with Debian's clang and lld, against the MinGW-w64 headers
# and import libraries and g++'s libstdc++ (POSIX thread model), so that both compilers build
# the same program from the same runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TALVEX_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${TALVEX_MINGW_TRIPLE})
set(CMAKE_RC_COMPILER ${TALVEX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TALVEX_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TALVEX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# clang looks for libstdc++ under a numbered folder (".../12/"); Debian installs the POSIX
# thread-model runtime under ".../12-posix/", which clang never tries. Name it explicitly.
file(GLOB talvex_gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${TALVEX_MINGW_TRIPLE}/*-posix)
list(SORT talvex_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET talvex_gcc_dirs 0 TALVEX_GCC_RUNTIME_DIR)
if(NOT IS_DIRECTORY "${TALVEX_GCC_RUNTIME_DIR}/include/c++")
  message(FATAL_ERROR "no MinGW-w64 g++ (POSIX) runtime under /usr/lib/gcc/${TALVEX_MINGW_TRIPLE}")
endif()
set(talvex_cxx_inc ${TALVEX_GCC_RUNTIME_DIR}/include/c++)
string(JOIN " " CMAKE_CXX_FLAGS_INIT
       -stdlib=libstdc++
       -isystem ${talvex_cxx_inc}
       -isystem ${talvex_cxx_inc}/${TALVEX_MINGW_TRIPLE}
       -isystem ${talvex_cxx_inc}/backward)
# lld as the linker; g++'s runtime libraries (libstdc++, libgcc, winpthread via -pthread, which
# libstdc++'s threads need and clang does not add by itself).
set(talvex_link_init "-fuse-ld=lld -pthread -L${TALVEX_GCC_RUNTIME_DIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${talvex_link_init}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${talvex_link_init}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${talvex_link_init}")

set(CMAKE_FIND_ROOT_PATH /usr/${TALVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
