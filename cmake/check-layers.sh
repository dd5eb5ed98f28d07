#!/usr/bin/env bash
# Checks the include graph of the library's core (src/):
#   - the layers: api > report > pcf > env, guid > task > platform. A file
#     includes headers of its own layer and of lower ones only ("statrelay/",
#     the public header, from anywhere; the log library's header from the
#     platform layer, which carries the log call).
#   - operating-system headers (windows.h, unistd.h, sys/..., sqlite3.h, any
#     <...> header that is neither the C++ nor the C standard library's) only
#     under src/platform/win32/ and src/platform/posix/.
# The tools (tools/), the log library (log/), the tests, benchmarks and fuzz
# targets may use the operating system and any layer: they are not checked.
#   check-layers.sh [SOURCE_DIR]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root/src"

rank() {
  case "$1" in
    platform) echo 0 ;;
    task) echo 1 ;;
    env | guid) echo 2 ;;
    pcf) echo 3 ;;
    report) echo 4 ;;
    api) echo 5 ;;
    *) echo -1 ;;
  esac
}

# The C standard library's headers (the C++ ones have no ".h").
c_std=" assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h locale.h math.h
  setjmp.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h stdint.h stdio.h stdlib.h
  stdnoreturn.h string.h tgmath.h threads.h time.h uchar.h wchar.h wctype.h "

fail=0
while IFS= read -r file; do
  module=${file%%/*}
  own=$(rank "$module")
  os_allowed=0
  case "$file" in platform/win32/* | platform/posix/*) os_allowed=1 ;; esac
  while IFS= read -r line; do
    number=${line%%:*}
    text=${line#*:}
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      header=${BASH_REMATCH[1]}
      target=${header%%/*}
      if [ "$header" = "$target" ]; then
        # A header without a folder: the log library's.
        if [ "$module" != platform ]; then
          echo "src/$file:$number: \"$header\" is not a header of the core (the log call is platform/log_sink.h)"
          fail=1
        fi
        continue
      fi
      [ "$target" = statrelay ] && continue
      theirs=$(rank "$target")
      if [ "$theirs" -lt 0 ]; then
        echo "src/$file:$number: \"$header\" is outside the core's modules"
        fail=1
      elif [ "$theirs" -gt "$own" ]; then
        echo "src/$file:$number: $module includes $target, a higher layer (\"$header\")"
        fail=1
      fi
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      header=${BASH_REMATCH[1]}
      [ $os_allowed = 1 ] && continue
      if [[ $header == *.h || $header == */* ]]; then
        [[ $c_std == *" $header "* ]] && continue
        echo "src/$file:$number: operating-system header <$header> outside src/platform/{win32,posix}"
        fail=1
      fi
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find . -name '*.h' -o -name '*.cc' | sed 's|^\./||' | sort)

if [ $fail = 0 ]; then echo "layers of src/: ok"; fi
exit $fail
