#!/usr/bin/env bash
# Installs the Debian packages Korvalen needs, when any is missing.
# As root: apt-get install -y. Otherwise: prints the sudo line and fails.
# Usage: scripts/deps.sh [build|test|desktop]
# desktop: what trying the installed package as a desktop user takes (a window
# manager, a file manager and X tools under Xvfb).
set -euo pipefail

want=(cmake ninja-build g++ pkg-config libicu-dev qt6-base-dev libgl-dev libxcb1-dev
      fonts-ipafont-gothic xvfb xauth qt6-translations-l10n)
if [[ "${1:-build}" == test ]]; then
    want+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev vim-nox emacs-nox
           dpkg-dev file lintian desktop-file-utils appstream groff bash-completion locales
           devscripts xdg-utils libglib2.0-bin)
elif [[ "${1:-build}" == desktop ]]; then
    want+=(openbox pcmanfm x11-utils xdotool imagemagick)
fi

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
    if [[ $(id -u) -eq 0 ]]; then
        echo "korvalen: installing ${missing[*]}" >&2
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "korvalen: these Debian packages are missing. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
fi

# korvalen-cli is tested in a Shift-JIS terminal too.
if [[ "${1:-build}" == test ]] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.sjis$'; then
    if [[ $(id -u) -eq 0 ]]; then
        localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS 2>/dev/null || true  # warns, still builds
    else
        echo "korvalen: no ja_JP.SJIS locale; the Shift-JIS terminal tests are skipped." >&2
        echo "  Make it with: sudo localedef -f SHIFT_JIS -i ja_JP ja_JP.SJIS" >&2
    fi
fi
