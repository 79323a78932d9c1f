#!/usr/bin/env bash
# Validates a shipped desktop integration file with the desktop's own validators.
# Usage: validate_packaging.sh desktop|metainfo|man FILE
set -euo pipefail
kind=$1
file=$2
case $kind in
    desktop)
        # SingleMainWindow is in the format since 1.5; validators older than that call it an
        # unknown key. That message alone is let through.
        out=$(desktop-file-validate "$file" 2>&1) || true
        rest=$(grep -v 'key "SingleMainWindow" in group "Desktop Entry", but keys extending the format should start with "X-"' <<<"$out" || true)
        echo "$out"
        [[ -z $rest ]]
        ;;
    metainfo)
        appstreamcli validate --no-net --explain "$file"
        ;;
    man)
        # groff's warnings, as a reader's man would show them.
        out=$(groff -man -ww -z "$file" 2>&1)
        echo "$out"
        [[ -z $out ]]
        ;;
    *)
        echo "validate_packaging.sh: unknown kind $kind" >&2
        exit 64
        ;;
esac
