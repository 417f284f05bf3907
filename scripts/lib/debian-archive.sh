# shellcheck shell=bash
# Finds the Debian archive this machine's apt already uses, so that fetching
# a source package goes through the same mirror or proxy as everything else.
#
#   debian_archive [ROOT]   prints "URI KEYRING" of the first enabled source
#                           of Debian's main archive (a plain suite such as
#                           bookworm or stable, component main) in
#                           ROOT/etc/apt/sources.list, then
#                           ROOT/etc/apt/sources.list.d/*.list and *.sources
#                           (deb822) in name order, as apt reads them;
#                           KEYRING is the source's Signed-By file, or
#                           Debian's archive keyring when it names none.
#                           Returns 1 when no such source exists.

debian_archive() {
  local root=${1:-}
  local etc="$root/etc/apt"
  local codename=""
  if [ -r "$root/etc/os-release" ]; then
    codename=$(sed -n 's/^VERSION_CODENAME=//p' "$root/etc/os-release" | tr -d '"')
  fi
  local files=()
  [ -r "$etc/sources.list" ] && files+=("$etc/sources.list")
  local f
  for f in "$etc"/sources.list.d/*; do
    case $f in
      *.list | *.sources) [ -r "$f" ] && files+=("$f") ;;
    esac
  done
  [ ${#files[@]} -gt 0 ] || return 1
  local found
  found=$(awk -v codename="$codename" -f "$(dirname "${BASH_SOURCE[0]}")/debian-archive.awk" \
    "${files[@]}")
  [ -n "$found" ] || return 1
  echo "$found"
}
