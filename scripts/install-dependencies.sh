#!/usr/bin/env bash
# Installs the Debian packages of the given purposes, each listed in scripts/packages/PURPOSE.txt:
# cli (build drivemap and the libraries), tests, cross (the Windows DLL, i386), fuzz. Without
# arguments, all of them. Runs apt-get only when something is missing, unless FORCE_APT=1 (CI).
# Usage: scripts/install-dependencies.sh [PURPOSE...]
set -euo pipefail
lists=$(dirname "$0")/packages
[ $# -gt 0 ] || set -- cli tests cross fuzz

packages=()
for purpose in "$@"; do
  [ -f "$lists/$purpose.txt" ] || { echo "$0: no package list $lists/$purpose.txt" >&2; exit 2; }
  mapfile -t -O "${#packages[@]}" packages < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' -e 's/[[:space:]]//g' \
                                                   "$lists/$purpose.txt")
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${FORCE_APT:-0}" = 1 ]; then
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  echo "Installing Debian packages ($*): ${missing[*]:-${packages[*]}}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
fi
