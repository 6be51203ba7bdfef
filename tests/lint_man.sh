#!/usr/bin/env bash
# Fails when a man page makes groff (or mandoc, where installed) warn.
set -euo pipefail
status=0
for page in "$@"; do
  warnings=$(groff -ww -z -t -man "$page" 2>&1 || true)
  if command -v mandoc >/dev/null; then
    warnings+=$(mandoc -T lint -W warning "$page" 2>&1 || true)
  fi
  if [ -n "$warnings" ]; then
    echo "$page:"; echo "$warnings"; status=1
  fi
done
exit $status
