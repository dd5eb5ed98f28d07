#!/usr/bin/env bash
# Checks that the tracked C and C++ sources are formatted as .clang-format
# says. Prints the files that are not (with clang-format's complaints) and
# exits non-zero when there is one.
#   scripts/check-format.sh            every tracked source
#   scripts/check-format.sh FILE...    only these
# Fix a file with: clang-format -i FILE
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
  echo "check-format: $format not found (apt-get install clang-format)" >&2
  exit 2
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.c' '*.cc' '*.h')
fi
bad=0
for f in "${files[@]}"; do
  if ! "$format" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not formatted: $f"
    bad=1
  fi
done
if [ $bad = 0 ]; then echo "format of ${#files[@]} files: ok"; fi
exit $bad
