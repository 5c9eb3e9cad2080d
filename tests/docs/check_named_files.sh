#!/usr/bin/env bash
# Fails when a document names a file of the tree that is no longer there: every `folder/file.ext`
# in backquotes must exist. Usage: check_named_files.sh SOURCE_ROOT DOCUMENT...
set -euo pipefail
root=$1
shift
missing=0
for doc in "$@"; do
  while IFS= read -r path; do
    if [ ! -e "$root/$path" ]; then
      echo "$doc names $path, which does not exist" >&2
      missing=1
    fi
  done < <(grep -oE '`[A-Za-z0-9_./-]+/[A-Za-z0-9_.-]+\.[A-Za-z0-9]+`' "$root/$doc" | tr -d '`' | sort -u)
done
exit "$missing"
