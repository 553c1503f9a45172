#!/usr/bin/env bash
# Stages and writes the package archive that formwell carries:
#   stage_package.sh linux|windows PACK-TOOL OUT.zip STAGE-DIR FORMS-DIR BIN-DIR [QRENCODE-EXE]
# Members, in this order: eb_df/, qrencode/, the formdesk program, the gbconv library, eb_ac/.
# What does not exist yet is left out (formdesk) or stands in as a placeholder page (a form
# package that assemble.js does not give). The Linux programs carry the same ".exe" names as the
# Windows ones, so that the kit starts them by the same names and unpacks them as files.
set -euo pipefail
platform="$1" pack="$2" out="$3" stage="$4" forms="$5" bin="$6" qrencode="${7:-}"

rm -rf "$stage"
mkdir -p "$stage/forms" "$stage/qrencode"

# The form packages: assembled from forms/ with its page libraries when that is possible.
if [ -f "$forms/assemble.js" ] && command -v node >/dev/null; then
  if [ ! -d "$forms/node_modules" ]; then
    (cd "$forms" && npm ci --no-audit --no-fund >/dev/null 2>&1) || echo "package: npm ci failed in $forms; using placeholders" >&2
  fi
  node "$forms/assemble.js" "$stage/forms" >/dev/null || echo "package: assemble.js failed; using placeholders" >&2
fi
for form in eb_df eb_ac; do
  if [ ! -f "$stage/forms/$form/index.html" ]; then
    mkdir -p "$stage/forms/$form"
    cat >"$stage/forms/$form/index.html" <<HTML
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>$form</title></head>
<body><p>$form: this form arrives with a later version of the package.</p></body></html>
HTML
  fi
done

# The QR encoder: the Windows build passes the qrencode.exe it built; Linux passes none, and its
# formdesk starts Debian's qrencode.
[ -n "$qrencode" ] && cp "$qrencode" "$stage/qrencode/qrencode.exe"

members=("eb_df/=$stage/forms/eb_df")
if [ "$platform" = linux ]; then
  members+=("qrencode/=$stage/qrencode")
  [ -f "$bin/formdesk" ] && members+=("formdesk.exe=$bin/formdesk")
  members+=("libgbconv.so=$bin/libgbconv.so")
else
  members+=("qrencode/=$stage/qrencode")
  [ -f "$bin/formdesk.exe" ] && members+=("formdesk.exe=$bin/formdesk.exe")
  members+=("gbconv.dll=$bin/gbconv.dll")
fi
members+=("eb_ac/=$stage/forms/eb_ac")
exec "$pack" "$out" "${members[@]}"
