#!/usr/bin/env bash
# scripts/setup.sh run by a user who is not root: apt-get, started through sudo (which resets the
# environment, as Debian's sudo does), must still run without asking (DEBIAN_FRONTEND=noninteractive).
# The system's commands are replaced by fakes that only record what they were asked.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
fake="$(mktemp -d "${TMPDIR:-/tmp}/fw-setup.XXXXXX")"
trap 'rm -rf "$fake"' EXIT

fakeCommand() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$fake/$1" && chmod +x "$fake/$1"; }
fakeCommand id 'echo 1000'
fakeCommand sudo 'exec env -i PATH="$PATH" "$@"'
fakeCommand dpkg-query 'exit 1'
fakeCommand dpkg 'echo i386'
fakeCommand apt-get "echo \"\$1 DEBIAN_FRONTEND=\${DEBIAN_FRONTEND:-}\" >>'$fake/log'"

PATH="$fake:$PATH" bash "$root/scripts/setup.sh" >/dev/null
if ! grep -qx 'install DEBIAN_FRONTEND=noninteractive' "$fake/log"; then
  echo "setup.sh: apt-get install ran without DEBIAN_FRONTEND=noninteractive:" >&2
  cat "$fake/log" >&2
  exit 1
fi
echo "setup.sh keeps DEBIAN_FRONTEND under sudo"
