#!/bin/sh
# Installs the Debian packages that the build, the tests and the bench need,
# and only those that are missing, so that a minimal Debian 12 with git and make works.
set -eu

need=""
want() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || need="$need $1"; }

for p in cmake ninja-build g++ g++-multilib g++-mingw-w64-i686 googletest libbenchmark-dev \
         libpng-dev nlohmann-json3-dev zlib1g-dev libfreetype-dev fonts-dseg fonts-dejavu-core binutils-mingw-w64-i686 wine wine32:i386 xz-utils \
         pkg-config libcpp-httplib-dev libcli11-dev libxml2-utils libxml2-dev chromium chromium-driver python3-selenium \
         clang libclang-rt-14-dev; do
    want "$p"
done
if [ -z "$need" ]; then
    exec "$(dirname "$0")/enable-i386.sh"
fi

if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing packages:$need (run as root to install them)" >&2
    exit 1
fi
case " $(dpkg --print-foreign-architectures | tr '\n' ' ') " in
    *" i386 "*) ;;
    *) dpkg --add-architecture i386 ;;
esac
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails one index now and then; what the install needs
# is usually present anyway, so retry a little and then let the install decide.
for attempt in 1 2 3; do
    apt-get update -q && break
    echo "install-deps: apt-get update failed (attempt $attempt)" >&2
    sleep 5
done
if ! apt-get install -y -q --no-install-recommends $need; then
    # With one architecture's security index missing, the amd64 and i386 halves of a
    # multi-arch library can stand at different versions; the main suite has both.
    echo "install-deps: retrying with the main suite preferred" >&2
    apt-get install -y -q --no-install-recommends -o APT::Default-Release=bookworm $need
fi
exec "$(dirname "$0")/enable-i386.sh"
