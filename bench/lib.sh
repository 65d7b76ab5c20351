# Shared by the benchmark scripts (sourced, not run).

# need_pkg COMMAND PACKAGE: installs PACKAGE when COMMAND is missing (as root),
# else says how and stops.
need_pkg() {
    if ! command -v "$1" >/dev/null 2>&1; then
        if [ "$(id -u)" = 0 ]; then
            DEBIAN_FRONTEND=noninteractive apt-get install -y "$2" >/dev/null
        else
            echo "$1 is missing: apt-get install -y $2" >&2
            exit 2
        fi
    fi
}
