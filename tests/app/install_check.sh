#!/usr/bin/env bash
# cmake --install into a scratch prefix puts the program, its .desktop file,
# icon, AppStream metadata, manual page, the udev rule and the permission
# help page where a desktop expects them, and the shell completions where
# bash, zsh and fish look.
#   install_check.sh BUILD_DIR SCRATCH_PREFIX
set -euo pipefail
build=$1
prefix=$2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/quillmark share/applications/quillmark.desktop \
         lib/udev/rules.d/70-quillmark.rules share/doc/quillmark/permission-help.html \
         share/doc/quillmark/permission-help.en.html \
         share/icons/hicolor/scalable/apps/quillmark.svg share/man/man1/quillmark.1.gz share/man/zh_CN/man1/quillmark.1.gz \
         share/locale/en/LC_MESSAGES/quillmark.mo \
         share/metainfo/works.varden.quillmark.metainfo.xml share/doc/quillmark/copyright \
         share/doc/quillmark/changelog.gz share/bash-completion/completions/quillmark \
         share/fish/vendor_completions.d/quillmark.fish; do
  if [ -s "$prefix/$f" ]; then echo "ok: $f"; else echo "FAIL: $f missing"; status=1; fi
done
# zsh's place depends on the prefix the build was configured for.
ls "$prefix"/share/zsh/*/_quillmark >/dev/null 2>&1 || { echo "FAIL: zsh completion"; status=1; }
[ -x "$prefix/bin/quillmark" ] || { echo "FAIL: bin/quillmark not executable"; status=1; }
grep -q '^Exec=quillmark$' "$prefix/share/applications/quillmark.desktop" ||
  { echo "FAIL: .desktop Exec"; status=1; }
rm -rf "$prefix"
exit $status
