# Sourced by ./run and ./test: installs the Debian packages a step needs, when missing.
# ensure_packages PKG... installs with apt-get as root or through sudo; otherwise it names the
# missing packages and stops.

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing Debian packages: ${missing[*]}"
  local apt=(apt-get)
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      apt=(sudo apt-get)
    else
      echo "error: these Debian packages are missing: ${missing[*]}" >&2
      echo "Install them as root: apt-get install ${missing[*]}" >&2
      exit 1
    fi
  fi
  if ! DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"; then
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" update -q
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# The packages of the native build.
NATIVE_PACKAGES=(cmake ninja-build g++ make)
# The tests: GoogleTest sources, Google Benchmark, clang with its sanitizer runtimes (fuzzing
# and ThreadSanitizer), the Windows cross compiler, Wine and a virtual display.
# The loop-volume tests format small images with mkfs.ext4, mkfs.btrfs and mkfs.xfs.
TEST_PACKAGES=(googletest libbenchmark-dev clang libclang-rt-14-dev
               g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth
               e2fsprogs btrfs-progs xfsprogs)
