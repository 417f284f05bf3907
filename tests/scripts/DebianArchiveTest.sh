#!/usr/bin/env bash
# debian_archive on sample apt configurations: which source it takes the
# Debian archive from, and that it refuses when there is none.
#   DebianArchiveTest.sh SCRIPTS_LIB_DIR
set -uo pipefail
# shellcheck source=../../scripts/lib/debian-archive.sh
source "$1/debian-archive.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
case_no=0

# new_root: an empty machine of the given codename
new_root() {
  case_no=$((case_no + 1))
  root="$work/$case_no"
  mkdir -p "$root/etc/apt/sources.list.d"
  echo "VERSION_CODENAME=${1:-bookworm}" > "$root/etc/os-release"
}

expect() {  # expect WHAT EXPECTED
  local got rc
  got=$(debian_archive "$root")
  rc=$?
  if [ "$2" = "none" ]; then
    if [ $rc -eq 0 ]; then
      echo "FAIL: $1: expected no archive, got '$got'"
      failures=$((failures + 1))
    fi
  elif [ $rc -ne 0 ] || [ "$got" != "$2" ]; then
    echo "FAIL: $1: expected '$2', got '$got' (status $rc)"
    failures=$((failures + 1))
  fi
}

keyring=/usr/share/keyrings/debian-archive-keyring.gpg

new_root
cat > "$root/etc/apt/sources.list.d/debian.sources" <<'SRC'
# The security archive comes first here; it has no plain suite.
Types: deb
URIs: http://security.example.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
# a comment inside the stanza
URIs: http://mirror.example.org/debian/
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /etc/apt/keyrings/local-mirror.gpg
SRC
expect "deb822 with a security stanza first" "http://mirror.example.org/debian /etc/apt/keyrings/local-mirror.gpg"

new_root
cat > "$root/etc/apt/sources.list.d/debian.sources" <<'SRC'
Enabled: no
Types: deb
URIs: http://disabled.example.org/debian
Suites: bookworm
Components: main

Types: deb-src
URIs: http://sources-only.example.org/debian
Suites: bookworm
Components: main

Types: deb
URIs:
 http://proxy.example.org:3142/debian
Suites: bookworm
Components: non-free main
SRC
expect "disabled, source-only and continued fields" "http://proxy.example.org:3142/debian $keyring"

new_root
cat > "$root/etc/apt/sources.list" <<'SRC'
# deb http://commented.example.org/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/mirror.gpg] http://10.0.0.5/debian bookworm main non-free-firmware
SRC
cat > "$root/etc/apt/sources.list.d/zz.sources" <<'SRC'
Types: deb
URIs: http://later.example.org/debian
Suites: bookworm
Components: main
SRC
expect "sources.list before the parts, options read" "http://10.0.0.5/debian /usr/share/keyrings/mirror.gpg"

new_root
cat > "$root/etc/apt/sources.list.d/docker.list" <<'SRC'
deb https://download.example.com/linux/debian bookworm stable
deb http://apt.example.com/node nodistro main
SRC
cat > "$root/etc/apt/sources.list.d/debian.list" <<'SRC'
deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb file:/srv/mirror/debian stable main
SRC
expect "third-party and cdrom sources skipped" "file:/srv/mirror/debian $keyring"

new_root
cat > "$root/etc/apt/sources.list.d/debian.sources" <<'SRC'
Types: deb
URIs: http://deb.example.org/debian
Suites: trixie
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NlOtYB
 -----END PGP PUBLIC KEY BLOCK-----
SRC
expect "inline key falls back to Debian's keyring" none
new_root trixie
cp "$work/$((case_no - 1))/etc/apt/sources.list.d/debian.sources" "$root/etc/apt/sources.list.d/"
expect "codename from os-release, inline key" "http://deb.example.org/debian $keyring"

new_root
cat > "$root/etc/apt/sources.list.d/security.sources" <<'SRC'
Types: deb
URIs: http://security.example.org/debian-security
Suites: bookworm-security
Components: main
SRC
expect "only a security archive" none

new_root
expect "no sources at all" none

if [ $failures -gt 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all $case_no cases passed"
