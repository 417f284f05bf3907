#!/usr/bin/env bash
# Fails on a text passed to tr() that po/en.po lacks or leaves untranslated or
# fuzzy, and on a translation whose format placeholders differ from its msgid.
set -euo pipefail
root=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$root"
find src \( -name '*.cpp' -o -name '*.h' \) -print | sort >"$tmp/files"
xgettext --from-code=UTF-8 --language=C++ --keyword= --keyword=tr --keyword=trNoop --add-comments=TRANSLATORS \
  --files-from="$tmp/files" -o "$tmp/quillmark.pot" 2>"$tmp/xgettext.log" || { cat "$tmp/xgettext.log"; exit 1; }
[ -f "$tmp/quillmark.pot" ] || : >"$tmp/quillmark.pot"
status=0
msgfmt --check --statistics -o /dev/null po/en.po 2>"$tmp/stats" || { cat "$tmp/stats"; status=1; }
if grep -Eq 'untranslated|fuzzy' "$tmp/stats"; then
  echo "po/en.po: $(cat "$tmp/stats")"
  status=1
fi
if [ -s "$tmp/quillmark.pot" ] && ! msgcmp po/en.po "$tmp/quillmark.pot" 2>"$tmp/cmp"; then
  echo "texts without an English translation (run po/update, then translate):"
  cat "$tmp/cmp"
  status=1
fi
[ $status -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
