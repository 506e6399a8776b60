#!/bin/sh
# clang-tidy over every product source, with the Windows target and MinGW's C++ headers:
#   clang-tidy.sh <source dir> <build dir with compile_commands.json> <mingw g++>
# Exits non-zero on any finding (the configuration is <source dir>/.clang-tidy).
set -eu
src=$1
build=$2
cxx=$3
extra="--extra-arg=--target=x86_64-w64-mingw32"
# clang does not know where MinGW keeps libstdc++'s headers: hand it g++'s own search list,
# less GCC's private directories (its intrinsics use GCC-only builtins; clang brings its own).
for dir in $(echo | "$cxx" -xc++ -E -v - 2>&1 | sed -n '/#include <...> search starts here/,/End of search list/p' |
             grep '^ ' | grep -v -E '/gcc/.*/include(-fixed)?$'); do
  extra="$extra --extra-arg=-isystem$dir"
done
files=$(find "$src/src" -name '*.cpp' | sort)
# shellcheck disable=SC2086
clang-tidy --quiet -p "$build" $extra $files 2>&1 | grep -v -E '^[0-9]+ warnings? generated' | tee "$build/clang-tidy.log"
! grep -q -E '(warning|error):' "$build/clang-tidy.log"
