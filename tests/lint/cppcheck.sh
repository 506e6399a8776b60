#!/bin/sh
# cppcheck over the product sources: cppcheck.sh <source dir> <build dir>
# Silenced findings are listed, each with its reason, in tests/lint/cppcheck-suppressions.txt.
set -eu
src=$1
build=$2
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ --platform=win64 \
  --enable=warning,performance,portability --inline-suppr \
  --suppressions-list="$src/tests/lint/cppcheck-suppressions.txt" \
  -D_WIN32 -D_WIN64 -DUNICODE -D_UNICODE -I "$src/src" \
  --cppcheck-build-dir="$build" "$src/src"
