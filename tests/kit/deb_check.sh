#!/usr/bin/env bash
# The Debian package for Linux desktops, made from this build as `make dist` makes it:
#   deb_check.sh BUILD-DIR WORK-DIR
# dpkg-deb shows the programs, the desktop entry, the icon and the dependencies on Debian's libraries
# and qrencode; the desktop entry passes desktop-file-validate and names the kit in Chinese, with a
# program and an icon that the package holds. Unpacked into a temporary root with dpkg -x, its
# formwell installs the application package for a fresh user (program folder, currentversion in the
# hive) and leaves an installed one alone on the next start.
set -u
build="$1" work="$2"
rm -rf "$work"
mkdir -p "$work"
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not make the package" >&2
  exit 1
fi
deb=$(compgen -G "$work/out/formwell_*_amd64.deb") || {
  echo "FAIL: no formwell_<version>_amd64.deb in $work/out: $(ls "$work/out")" >&2
  exit 1
}
echo "package: $(basename "$deb")"

info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
[ "$(field Package)" = formwell ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is '$(field Architecture)'"
[ "$(basename "$deb")" = "formwell_$(field Version)_amd64.deb" ] || fail "the file name does not carry the version"
depends=$(field Depends)
for dependency in qrencode fonts-noto-cjk fonts-hanazono libc6 libgtk-3-0 zlib1g libminizip1; do
  grep -qE "(^|, )$dependency( |,|$)" <<<"$depends" || fail "Depends lacks $dependency: $depends"
done

contents=$(dpkg-deb --contents "$deb" | awk '{ print $6 }')
expected_files=(./usr/bin/formwell ./usr/share/applications/formwell.desktop
  ./usr/share/icons/hicolor/scalable/apps/formwell.svg ./usr/share/icons/hicolor/48x48/apps/formwell.png)
if [ -f "$build/bin/formdesk" ]; then
  expected_files+=(./usr/libexec/formwell/formdesk ./usr/libexec/formwell/libgbconv.so)
else
  echo "PENDING: this build makes no formdesk yet; the package must hold it as soon as it does"
fi
for f in "${expected_files[@]}"; do
  grep -qx -- "$f" <<<"$contents" || fail "the package does not hold $f"
done

root="$work/root"
dpkg -x "$deb" "$root" || fail "dpkg -x failed"
entry="$root/usr/share/applications/formwell.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the desktop entry"
[ "$(sed -n 's/^Name=//p' "$entry")" = "Velor服务平台自助申请软件" ] || fail "the menu name is '$(sed -n 's/^Name=//p' "$entry")'"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$root/usr/bin/$exec_program" ] || fail "Exec names '$exec_program', which the package does not hold in /usr/bin"
icon=$(sed -n 's/^Icon=//p' "$entry")
compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null || fail "Icon names '$icon', which the package does not hold"

# The first start of a fresh user: the package goes into the program folder under XDG_DATA_HOME.
home="$work/home"
mkdir -p "$home"
# Without a display: formwell then shows no start dialog (which would wait for a choice) and goes
# on as when it is cancelled, installing without a word on the screen.
run_formwell() {
  env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    LANG=C.UTF-8 timeout 60 "$root/usr/bin/formwell" >>"$work/formwell.log" 2>&1
}
run_formwell || fail "the first start of formwell ended with $?"
folder="$home/.local/share/Formwell"
for f in tm.zip eb_df/index.html eb_ac/index.html libgbconv.so; do
  [ -s "$folder/$f" ] || fail "the program folder has no $f after the first start"
done
[ -d "$folder/qrencode" ] || fail "the program folder has no qrencode/ folder"
hive="$home/.config/formwell/HKEY_LOCAL_MACHINE.reg"
if ! grep -A3 -F '[HKEY_LOCAL_MACHINE\software\orvanta\formwell]' "$hive" 2>/dev/null | grep -qx '"currentversion"="1.0.0.0"'; then
  fail "the hive does not record currentversion 1.0.0.0: $(cat "$hive" 2>/dev/null)"
fi
before=$(stat -c %Y.%s "$folder/tm.zip" 2>/dev/null)
sleep 1
run_formwell || fail "the second start of formwell ended with $?"
[ "$(stat -c %Y.%s "$folder/tm.zip" 2>/dev/null)" = "$before" ] || fail "the second start installed the package again"

[ $status = 0 ] && echo "ok: $(basename "$deb"): Depends $depends"
[ $status = 0 ] || cat "$work/formwell.log" >&2
exit $status
