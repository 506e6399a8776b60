#!/bin/sh
# cppcheck over the product sources: cppcheck.sh <source dir> <build dir>
# Silenced findings are listed, each with its reason, in tests/lint/cppcheck-suppressions.txt.
# Fails on any finding, or when cppcheck itself fails. Lines of severity "information" are shown
# but are no finding: they are about the analysis (newer versions say when they limit it), not
# about the code.
set -eu
src=$1
build=$2
report=$build/cppcheck.log
status=0
cppcheck --quiet --std=c++20 --language=c++ --platform=win64 \
  --enable=warning,performance,portability --inline-suppr \
  --suppressions-list="$src/tests/lint/cppcheck-suppressions.txt" \
  --template='{severity}: {file}:{line}:{column}: {message} [{id}]' \
  -D_WIN32 -D_WIN64 -DUNICODE -D_UNICODE -I "$src/src" \
  --cppcheck-build-dir="$build" "$src/src" 2>"$report" || status=$?
cat "$report"
[ "$status" -eq 0 ] || { echo "cppcheck failed (status $status)"; exit 1; }
! grep -v '^information: ' "$report" | grep -q .
