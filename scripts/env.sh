# shellcheck shell=bash
# Shared environment of the test rig. Source it: . scripts/env.sh
# Everything lives under the build tree; nothing outside it is touched.
PROXY_SOURCE_DIR=${PROXY_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
PROXY_BUILD_DIR=${PROXY_BUILD_DIR:-$PROXY_SOURCE_DIR/build}
[[ $PROXY_BUILD_DIR == /* ]] || PROXY_BUILD_DIR=$PWD/$PROXY_BUILD_DIR
export PROXY_SOURCE_DIR PROXY_BUILD_DIR
export PROXY_LOG_DIR=${PROXY_LOG_DIR:-$PROXY_BUILD_DIR/logs}
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
export WINEPREFIX=${WINEPREFIX:-$PROXY_BUILD_DIR/wineprefix}
export WINEARCH=${WINEARCH:-win64}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEDEBUG=${WINEDEBUG:--all}
# A private X server and a private cupsd, both on loopback only.
export DISPLAY=${PROXY_DISPLAY:-:87}
export PROXY_CUPS_PORT=${PROXY_CUPS_PORT:-6631}
export CUPS_SERVER=127.0.0.1:$PROXY_CUPS_PORT
# Where the queue command keeps destination passwords, as cupsd tells its backends.
export CUPS_SERVERROOT=$PROXY_BUILD_DIR/cups
export PROXY_TEST_PRINTER=${PROXY_TEST_PRINTER:-TavriTestPDF}
# The unprivileged owner of the prefix that the CUPS tests print through.
export PROXY_E2E_USER=${PROXY_E2E_USER:-tavri-e2e}
# Another ordinary user, who plays the attacker of what the owner runs.
export PROXY_OTHER_USER=${PROXY_OTHER_USER:-tavri-e2e-other}
