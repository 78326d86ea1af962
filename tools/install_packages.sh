#!/bin/bash
# Installs the Debian packages of tools/packages.txt that are missing (or those named as arguments),
# with apt-get as root or through sudo. Quiet and quick when everything is there already.
set -euo pipefail
list="$(dirname "$(readlink -f "$0")")/packages.txt"

wanted=("$@")
if ((${#wanted[@]} == 0)); then
    while read -r package _; do
        [[ -z $package || $package == \#* ]] && continue
        wanted+=("$package")
    done <"$list"
fi
# One query for all of them; a package dpkg has never heard of is simply not in the answer.
installed=$(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null | awk '/ install ok installed$/ {print $1}' || true)
missing=()
for package in "${wanted[@]}"; do
    grep -q -x -F "$package" <<<"$installed" || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

echo "Installing ${missing[*]}" >&2
sudo=()
if [[ $(id -u) != 0 ]]; then
    command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
