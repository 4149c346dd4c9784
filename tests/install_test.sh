#!/usr/bin/env bash
# cmake --install into a scratch prefix; checks what a packager gets.
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/vantrel-trace share/man/man1/vantrel.1 share/doc/vantrel/README.md \
  share/doc/vantrel/LICENSE; do
  [[ -f "$prefix/$file" ]] || { echo "missing: $file"; exit 1; }
done
if [[ "$(uname -s)" == Linux ]]; then
  [[ -x "$prefix/bin/vantrel" ]] || { echo "missing: bin/vantrel"; exit 1; }
  # The desktop file through which KWin lets the installed vantrel use its fake input.
  desktop="$prefix/share/applications/vantrel.desktop"
  grep -qx "Exec=$prefix/bin/vantrel" "$desktop" || { echo "desktop file: no Exec of $prefix/bin/vantrel"; exit 1; }
  grep -qx "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input" "$desktop" ||
    { echo "desktop file: no fake input"; exit 1; }
fi
reply="$(printf '{"id":7,"action":"ping"}\n' | "$prefix/bin/vantrel-trace" 2>/dev/null)"
[[ "$reply" == '{"id":7,"ok":true}' ]] || { echo "installed vantrel-trace answered: $reply"; exit 1; }
if command -v man >/dev/null; then
  warnings="$(MANWIDTH=80 man -l -Tutf8 --warnings "$prefix/share/man/man1/vantrel.1" 2>&1 >/dev/null)"
  [[ -z "$warnings" ]] || { echo "man page warnings: $warnings"; exit 1; }
fi
echo "installed tree ok"
