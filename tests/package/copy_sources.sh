#!/bin/bash
# Copies the sources as checked out (tracked and new files, no build trees or
# ignored files) from SOURCE_DIR into DEST, as a packager's unpacked tree.
# usage: copy_sources.sh SOURCE_DIR DEST
set -euo pipefail
source_dir=$(cd "$1" && pwd)
mkdir -p "$2"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
    (cd "$source_dir" && xargs -0 tar -cf - --no-recursion --ignore-failed-read 2>/dev/null) |
    tar -xf - -C "$2"
else
  tar -C "$source_dir" --exclude=./build --exclude='./obj-*' -cf - . | tar -xf - -C "$2"
fi
