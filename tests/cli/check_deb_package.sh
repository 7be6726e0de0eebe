#!/usr/bin/env bash
# usage: check_deb_package.sh BUILD_DIR VERSION
# Makes the Debian package from a built tree (cpack -G DEB, into a scratch folder) and
# checks it: its files, its computed dependencies, lintian, the AppStream and desktop
# files, that the bash completion offers every option of --help (the manual page's
# options are tst_cli's), the agent's unit (systemd-analyze verify, offline, and its
# security exposure, printed) and example targets file, and, as root, an install into a
# throwaway root with the postinst granting the raw-socket capability, or saying clearly
# why it cannot, and the agent's unit left disabled.
set -euo pipefail
build=$(realpath "$1")
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(echo "$scratch"/hoplantern_"$version"_*.deb)
[ -f "$deb" ] || fail "no package hoplantern_${version}_*.deb"

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
expected=(
  ./usr/bin/hoplantern ./usr/bin/hoplantern-cli
  ./usr/share/applications/hoplantern.desktop
  ./usr/share/metainfo/example.veltrosyn.hoplantern.metainfo.xml
  ./usr/share/man/man1/hoplantern.1.gz ./usr/share/man/man1/hoplantern-cli.1.gz
  ./usr/share/bash-completion/completions/hoplantern-cli
  ./usr/share/doc/hoplantern/copyright ./usr/share/doc/hoplantern/changelog.gz
  ./usr/lib/systemd/system/hoplantern-agent.service ./etc/hoplantern/targets
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/hoplantern.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb --field "$deb" Depends)
grep -q 'libqt6widgets6' <<<"$depends" || fail "Depends not computed from the binaries: $depends"

# Errors and warnings fail; informational tags (the compiler's hardening flags) do not.
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 \
  || { cat "$scratch/lintian.log"; fail "lintian reports errors or warnings"; }

root=$scratch/root
dpkg-deb --extract "$deb" "$root"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >/dev/null \
  || fail "appstreamcli validate: $(appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml)"
desktop-file-validate "$root/usr/share/applications/hoplantern.desktop" || fail "desktop-file-validate"

cli=$root/usr/bin/hoplantern-cli
[ "$("$cli" --version)" = "hoplantern-cli $version" ] || fail "--version says '$("$cli" --version)'"
man_text=$(zcat "$root/usr/share/man/man1/hoplantern-cli.1.gz" | sed 's/\\-/-/g')
grep -q "Hoplantern $version" <<<"$man_text" || fail "the manual page does not carry version $version"
completion=$(
  # shellcheck disable=SC1091
  source /usr/share/bash-completion/bash_completion
  # shellcheck disable=SC1090
  source "$root/usr/share/bash-completion/completions/hoplantern-cli"
  COMP_WORDS=(hoplantern-cli -); COMP_CWORD=1; COMP_LINE='hoplantern-cli -'; COMP_POINT=${#COMP_LINE}
  _hoplantern_cli
  echo "${COMPREPLY[*]}"
)
for option in $("$cli" --help | grep -oE -- '(^|[ ,])--?[a-zA-Z0-9][a-z0-9-]*' | tr -d ' ,' | sort -u); do
  grep -qw -- "$option" <<<"$completion" || fail "the bash completion does not offer $option"
done

[ "$(dpkg-deb --info "$deb" conffiles)" = /etc/hoplantern/targets ] || fail "the targets file is not a conffile"
# The example file parses to the end: with -4 its last example, an IPv6 address, is the
# first fault found, after every line was read (nothing is resolved or sent).
examples=$scratch/targets.examples
sed -n 's/^#     //p' "$root/etc/hoplantern/targets" >"$examples"
said=$("$cli" --watch -4 --targets "$examples" 2>&1) && fail "the examples were watched"
grep -q "^hoplantern-cli: $examples:3: '2001:db8::53' is an IPv6 address, but -4 asks for IPv4" <<<"$said" \
  || fail "the example targets do not parse: $said"
said=$("$cli" --watch --targets "$root/etc/hoplantern/targets" 2>&1) && fail "an empty targets file was watched"
grep -q "targets: lists no target" <<<"$said" || fail "an empty targets file is not refused clearly: $said"

# The unit, checked offline (no running systemd needed) in a root holding the package's
# files and this system's own units, which it names (sysinit.target, network-online.target).
verify_root=$scratch/verify-root
cp -a "$root" "$verify_root"
cp -n /usr/lib/systemd/system/*.target "$verify_root/usr/lib/systemd/system/"
unit=$verify_root/usr/lib/systemd/system/hoplantern-agent.service
MANPATH=$root/usr/share/man systemd-analyze verify --root="$verify_root" "$unit" >"$scratch/verify.log" 2>&1 \
  || { cat "$scratch/verify.log"; fail "systemd-analyze verify"; }
[ ! -s "$scratch/verify.log" ] || { cat "$scratch/verify.log"; fail "systemd-analyze verify says something"; }
exposure=$(systemd-analyze security --offline=true --root="$verify_root" "$unit" 2>&1 | grep -o 'exposure level for [^:]*: [0-9.]*' \
  | grep -o '[0-9.]*$') || fail "no security exposure level"
echo "hoplantern-agent.service: systemd-analyze security exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "the unit's exposure $exposure is above 2.0"

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the package was not installed into a throwaway root"
  exit 0
fi
# A real install into a throwaway root; the scripts run outside it (there is no shell
# inside), and the postinst finds the files through DPKG_ROOT.
mkdir -p "$root.installed/var/lib/dpkg/updates" "$root.installed/var/lib/dpkg/info"
touch "$root.installed/var/lib/dpkg/status"
dpkg --root="$root.installed" --force-script-chrootless --force-depends --log=/dev/null \
  -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i into a throwaway root"; }
dpkg --root="$root.installed" -s hoplantern | grep -q '^Status: install ok installed' || fail "not installed"
if grep -q 'could not grant' "$scratch/dpkg.log"; then
  echo "the scratch file system holds no file capabilities: $(cat "$scratch/dpkg.log")"
else
  for bin in hoplantern hoplantern-cli; do
    getcap "$root.installed/usr/bin/$bin" | grep -q 'cap_net_raw=ep' || fail "postinst left $bin without CAP_NET_RAW"
  done
fi

# The agent waits to be enabled by the administrator.
state=$(systemctl --root="$root.installed" is-enabled hoplantern-agent.service 2>&1) || true
[ "$state" = disabled ] || fail "hoplantern-agent.service is '$state' after install, not disabled"

# Where setcap fails or is missing, the postinst still succeeds and says why.
postinst=$root.installed/var/lib/dpkg/info/hoplantern.postinst
mkdir "$scratch/failing"
printf '#!/bin/sh\necho "Operation not supported" >&2\nexit 1\n' >"$scratch/failing/setcap"
chmod +x "$scratch/failing/setcap"
said=$(DPKG_ROOT=$root.installed PATH="$scratch/failing:$PATH" sh "$postinst" configure 2>&1) || fail "postinst failed"
grep -q "could not grant .*hoplantern-cli the raw-socket capability (Operation not supported)" <<<"$said" \
  || fail "a failing setcap is not explained: $said"
grep -q "file system cannot hold file capabilities" <<<"$said" || fail "no reason given: $said"
said=$(DPKG_ROOT=$root.installed PATH=/usr/bin:/bin sh "$postinst" configure 2>&1) || fail "postinst failed"
grep -q "setcap (package libcap2-bin) is not installed" <<<"$said" || fail "a missing setcap is not explained: $said"
echo "package checked: $(basename "$deb")"
