#!/bin/sh
# The library exports exactly one symbol of its own: the UTF-8 spelling of the check's name.
set -eu
symbols=$(nm -D --defined-only "$1" | awk '{print $3}')
if [ "$symbols" != "检测新版本" ]; then
  echo "defined dynamic symbols of $1:"
  echo "$symbols"
  exit 1
fi
case "$(basename "$1")" in
  update.so) ;;
  *) echo "library file is named $(basename "$1"), not update.so"; exit 1 ;;
esac
