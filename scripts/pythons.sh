#!/usr/bin/env bash
# Prints one interpreter per supported CPython minor version found on this
# machine (on PATH or under pyenv), the first line being the default one.
set -u
for version in 3.11 3.12 3.13; do
    for candidate in "$(command -v "python$version" 2>/dev/null)" /root/.pyenv/versions/"$version".*/bin/"python$version"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c 'import venv' >/dev/null 2>&1; then
            echo "$candidate"
            break
        fi
    done
done
