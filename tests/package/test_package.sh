#!/usr/bin/env bash
# The Debian package as a user gets it: built with scripts/package, installed
# with apt, its files root's and unwritable by others, CUPS's test page printed
# through the INSTALLED backend and program on the rig's private cupsd
# (scripts/services must be running), then purged with nothing left. As root:
#   tests/package/test_package.sh
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
cd "$PROXY_SOURCE_DIR"
NAME=tavri-printer-proxy
BACKEND=/usr/lib/cups/backend/tavri
EXE=/usr/lib/$NAME/$NAME.exe
RIG_BACKEND=$PROXY_BUILD_DIR/cups/serverbin/backend/tavri
QUEUE=TavriPackage$$
WORK=$(mktemp -d)

fail() {
    echo "test_package: FAIL: $*" >&2
    exit 1
}

cleanup() {
    lpadmin -x "$QUEUE" 2>/dev/null || true
    [[ -f $WORK/rig ]] && mv -f "$WORK/rig" "$RIG_BACKEND"
    dpkg -s "$NAME" >/dev/null 2>&1 && apt-get purge -y -qq "$NAME" </dev/null >/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

scripts/package | tee "$WORK/package.out"
deb=$(tail -n 1 "$WORK/package.out")
[[ -f $deb ]] || fail "scripts/package named no .deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" \
    </dev/null >/dev/null || fail "apt could not install $deb"

# --- what is installed ------------------------------------------------------
[[ -z $(dpkg -V "$NAME") ]] || fail "installed files differ from the package: $(dpkg -V "$NAME")"
mode=$(stat -c '%a %U %G' "$BACKEND")
[[ $mode == '700 root root' ]] || fail "$BACKEND is $mode, not 700 root root"
writable=$(dpkg -L "$NAME" | xargs -d '\n' stat -c '%U %A %n' | awk '$2 !~ /^l/ &&
    ($1 != "root" || substr($2, 6, 1) == "w" || substr($2, 9, 1) == "w")')
[[ -z $writable ]] || fail "not root's, or writable by others: $writable"
/usr/bin/tavri-print --help >/dev/null || fail "tavri-print --help fails"
[[ -f /usr/lib/systemd/user/tavri-printer-app.service ]] || fail "no user unit for the app"
# Each command's manual page, made from its manual in docs/, renders without a
# complaint and names every option that the command's own --help names.
for page in man1/tavri-print.1 man8/tavri-cups-queue.8 man1/tavri-printer-app.1; do
    page=/usr/share/man/$page.gz
    command=/usr/bin/$(basename "$page" | cut -d. -f1)
    text=$(MANWIDTH=200 man --warnings -l "$page" 2>"$WORK/man.err") || fail "man cannot show $page"
    [[ ! -s $WORK/man.err ]] || fail "$page: $(head -n 3 "$WORK/man.err")"
    options=$("$command" --help | grep -oE -- '--[a-z][a-z-]*|-o [a-z][a-z-]*' | sort -u)
    [[ $command == */tavri-printer-app ]] && options+=$'\n-o output-directory'
    while read -r option; do
        grep -qF -- "$option" <<<"$text" || fail "$page does not name $option"
    done <<<"$options"
done
# dh_compress gzips documents over 4 kB, so a page may be there as .md or .md.gz
ls "/usr/share/doc/$NAME/docs/"{environment,security}.md* >/dev/null || fail "docs/ is not installed"
found=$(cd / && env -u PROXY_EXE -u PROXY_BUILD_DIR /usr/bin/python3 -I -c \
    'from tavri_print.cups.programs import default_exe; print(default_exe())')
[[ $found == "$EXE" ]] || fail "the installed library runs $found, not $EXE"

# --- one job through the installed backend ----------------------------------
mv "$RIG_BACKEND" "$WORK/rig"
ln -s "$BACKEND" "$RIG_BACKEND"
chmod 755 "$WORK"
install -d -o "$PROXY_E2E_USER" "$WORK/out"
env -u PROXY_EXE -u PROXY_BUILD_DIR /usr/bin/tavri-cups-queue "$QUEUE" "$PROXY_TEST_PRINTER" \
    --user "$PROXY_E2E_USER" --prefix "$PROXY_BUILD_DIR/e2e-home/.wine" --to "$WORK/out" ||
    fail "the installed tavri-cups-queue made no queue"
lp -d "$QUEUE" -t one /usr/share/cups/data/testprint >/dev/null
for ((tries = 0; tries < 600 && $(lpstat -W not-completed -o "$QUEUE" | wc -l) > 0; tries++)); do
    sleep 0.2
done
delivered=("$WORK"/out/*)
[[ ${#delivered[@]} == 1 && -f ${delivered[0]} ]] ||
    fail "the job delivered ${delivered[*]}; lpstat: $(lpstat -p "$QUEUE")"
head -c 4 "${delivered[0]}" | grep -q '^%!PS' || fail "${delivered[0]} is not PostScript"
mv -f "$WORK/rig" "$RIG_BACKEND"

# --- purge ------------------------------------------------------------------
apt-get purge -y -qq "$NAME" </dev/null >/dev/null || fail "apt could not purge $NAME"
dpkg -s "$NAME" >/dev/null 2>&1 && fail "$NAME is still known to dpkg after the purge"
[[ ! -e $BACKEND && ! -e /usr/lib/$NAME ]] || fail "the backend or $NAME's folder is left"
echo "test_package: installed, printed through $BACKEND, purged cleanly"
