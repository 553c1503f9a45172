#!/usr/bin/env bash
# reproducible_check.sh SOURCE-DIR WORK-DIR: two copies of the checkout (and of what it fetched) build what `make dist` ships
# without a compiler cache: the same bytes, and no program (the carried ones too) names the folder it was built in.
src="$1" work=$(realpath -m "$2") status=0
rm -rf "$work" && mkdir -p "$work" && unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1 && epoch="${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}" # only the configure runs see it
for copy in "$work/one/formwell" "$work/the second build/src"; do
  mkdir -p "$copy/build/win32/_deps/qrencode" && (cd "$src" && git ls-files -z -co --exclude-standard | tar --null -T - \
    --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$copy" && cp -a "$src/forms/node_modules" "$copy/forms/" &&
    { cp -a "$(compgen -G "$src/build/*/_deps/qrencode/src" | head -n1)" "$copy/build/win32/_deps/qrencode/" || true; } &&
    (cd "$copy" && unset SOURCE_DATE_EPOCH && SOURCE_DATE_EPOCH=$epoch cmake --preset win32 && cmake --build --preset win32 \
      --target dist_program && SOURCE_DATE_EPOCH=$epoch cmake --preset linux &&
      cmake --build --preset linux --target deb) >"$copy.log" 2>&1 && dpkg-deb -x "$copy"/build/linux/deb/*.deb "$copy.root" ||
    { tail -n 30 "$copy.log"; exit 1; }
  mapfile -d '' shipped < <(find "$copy/build/win32/dist" "$copy"/build/*/package/stage/{programs,qrencode} "$copy.root" -type f -print0)
  for f in "${shipped[@]}"; do
    strings -a "$f" | grep -F "$work" | sed "s|^|FAIL: $f names the build's folder: |" | head -n1 | grep . && status=1
  done
done
for f in win32/dist/formwell.exe "linux/deb/formwell_*.deb"; do
  cmp "$work"/one/formwell/build/$f "$work/the second build/src"/build/$f || { echo "FAIL: $f differs"; status=1; }
done
[ $status = 0 ] && rm -rf "$work" && echo "ok: the same formwell.exe and .deb from two folders"
exit $status
