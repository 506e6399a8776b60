#!/bin/sh
# clang-tidy over every product source the build compiles, in parallel, with the Windows target
# and MinGW's C++ headers:
#   clang-tidy.sh <source dir> <build dir with compile_commands.json> <mingw g++> <run-clang-tidy>
#                 <clang-tidy>
# Exits non-zero on any finding (the configuration is <source dir>/.clang-tidy).
set -eu
src=$1
build=$2
cxx=$3
run_clang_tidy=$4
clang_tidy=$5
set -- -extra-arg=--target=x86_64-w64-mingw32
# clang does not know where MinGW keeps libstdc++'s headers: hand it g++'s own search list,
# less GCC's private directories (its intrinsics use GCC-only builtins; clang brings its own).
for dir in $(echo | "$cxx" -xc++ -E -v - 2>&1 | sed -n '/#include <...> search starts here/,/End of search list/p' |
             grep '^ ' | grep -v -E '/gcc/.*/include(-fixed)?$'); do
  set -- "$@" "-extra-arg=-isystem$dir"
done
# run-clang-tidy prints each command before its findings; only the findings count.
status=0
"$run_clang_tidy" -quiet -clang-tidy-binary "$clang_tidy" -p "$build" "$@" "^$src/src/.*\.cpp\$" \
  >"$build/clang-tidy.out" 2>&1 || status=$?
# Sources this tree does not compile (the coverage build's own files) are checked too, with the
# flags clang-tidy infers from their neighbours in the compilation database.
for file in $(find "$src/src" -name '*.cpp' | sort); do
  grep -q -F "\"file\": \"$file\"" "$build/compile_commands.json" && continue
  "$clang_tidy" --quiet -p "$build" "$@" "$file" >>"$build/clang-tidy.out" 2>&1 || status=$?
done
grep -v -E '^[0-9]+ warnings? generated|^Enabled checks:|clang-tidy(-[0-9]+)? ' "$build/clang-tidy.out" |
  tee "$build/clang-tidy.log"
[ "$status" -eq 0 ] && ! grep -q -E '(warning|error):' "$build/clang-tidy.log"
