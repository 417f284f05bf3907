# Reads apt source files (one-line .list format and deb822 .sources) and
# prints "URI KEYRING" of the first enabled source of Debian's main archive.
# Input variable: codename (e.g. bookworm), may be empty.

function main_suite(suite) {
  return suite == codename || suite ~ /^(stable|testing|unstable|sid)$/ ||
         (codename == "" && suite ~ /^[a-z]+$/)
}

function usable_uri(uri) {
  return uri ~ /^(https?|file|mirror(\+[a-z]+)?):/
}

function pick(uri, suites, comps, key,    n, s, i, has_suite, has_main) {
  n = split(suites, s, /[ \t]+/)
  for (i = 1; i <= n; i++) if (main_suite(s[i])) has_suite = 1
  n = split(comps, s, /[ \t]+/)
  for (i = 1; i <= n; i++) if (s[i] == "main") has_main = 1
  if (!has_suite || !has_main || !usable_uri(uri)) return 0
  if (key == "" || key !~ /^\//) key = "/usr/share/keyrings/debian-archive-keyring.gpg"
  sub(/\/+$/, "", uri)
  print uri, key
  done = 1
  exit
}

# deb822: one stanza per paragraph; continuation lines start with a blank.
function end_stanza(    n, u, i) {
  if (stanza_fields && enabled != "no" && types ~ /(^|[ \t])deb([ \t]|$)/) {
    n = split(uris, u, /[ \t]+/)
    for (i = 1; i <= n; i++) if (u[i] != "") pick(u[i], suites, components, signed)
  }
  types = uris = suites = components = signed = enabled = field = ""
  stanza_fields = 0
}

function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }

FNR == 1 { if (deb822) end_stanza(); deb822 = FILENAME ~ /\.sources$/ }

deb822 && /^[ \t]*#/ { next }
deb822 && /^[ \t]*$/ { end_stanza(); next }
deb822 && /^[ \t]/ {
  # Continuation: an inline key block under Signed-By cannot be named by
  # path, so such a source falls back to Debian's keyring.
  if (field == "signed-by") signed = "inline"
  else if (field == "uris") uris = uris " " trim($0)
  else if (field == "suites") suites = suites " " trim($0)
  else if (field == "components") components = components " " trim($0)
  next
}
deb822 {
  stanza_fields = 1
  colon = index($0, ":")
  field = tolower(trim(substr($0, 1, colon - 1)))
  value = trim(substr($0, colon + 1))
  if (field == "types") types = value
  else if (field == "uris") uris = value
  else if (field == "suites") suites = value
  else if (field == "components") components = value
  else if (field == "signed-by") signed = value
  else if (field == "enabled") enabled = tolower(value)
  next
}

# One-line format: deb [options] uri suite component...
!deb822 {
  line = $0
  sub(/#.*/, "", line)
  if (line !~ /^[ \t]*deb[ \t]/) next
  sub(/^[ \t]*deb[ \t]+/, "", line)
  key = ""
  if (line ~ /^\[/) {
    opts = substr(line, 2, index(line, "]") - 2)
    line = substr(line, index(line, "]") + 1)
    n = split(opts, o, /[ \t]+/)
    for (i = 1; i <= n; i++) if (o[i] ~ /^signed-by=/) key = substr(o[i], 11)
  }
  n = split(trim(line), w, /[ \t]+/)
  if (n < 3) next
  comps = ""
  for (i = 3; i <= n; i++) comps = comps " " w[i]
  pick(w[1], w[2], comps, key)
}

END { if (!done && deb822) end_stanza() }
