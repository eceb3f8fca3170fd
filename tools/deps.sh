#!/bin/sh
# Installs what building, running and testing ctslab need on Debian 12.
# Every entry point (make run, make test, .ci/run) goes through here; further
# package names given as arguments are installed too (tools/fuzz-deps.sh).
set -e
PACKAGES="cmake ninja-build g++ make qt6-base-dev qt6-base-dev-tools qt6-tools-dev \
qt6-tools-dev-tools qt6-l10n-tools libgl-dev qt6-image-formats-plugins libdcmtk-dev \
libopenjp2-7-dev libnifti2-dev libinsighttoolkit5-dev $*"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
