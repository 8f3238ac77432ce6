#!/usr/bin/env bash
# Builds the Debian packages, the Windows zip and the Windows installer, and tries each as a user
# would.
#   tools/check-packages.sh        both
#   tools/check-packages.sh deb    build morvane_<version>-<revision>_amd64.deb and
#                                  tavio-sim_<version>-<revision>_amd64.deb, check both with
#                                  lintian (any tag the package does not override fails), install
#                                  them on this machine (as root, or with sudo), check the
#                                  versions, the capability, the system user and the systemd
#                                  units, run the demo with the installed programs and one backup
#                                  as an unprivileged user on UDP port 69; then remove tavio-sim
#                                  (morvane works alone), purge morvane after enabling a timer
#                                  instance (no link may stay behind), and install both again
#   tools/check-packages.sh zip    build morvane-<version>-win64.zip from the cross build
#                                  (MORVANE_WIN_BUILD, default build-win), check what it holds,
#                                  and run its morvane-cli.exe under Wine: --version and one
#                                  backup from a simulated device
#   tools/check-packages.sh setup  build the installer morvane-<version>-win64-setup.exe and try
#                                  it in a fresh Wine prefix: a silent installation with
#                                  morvane-cli on PATH, the files, the Start-menu shortcut, the
#                                  Add/Remove Programs entry, the installed morvane-cli.exe
#                                  (--version by its name alone, one backup), then a silent
#                                  uninstallation, which must leave nothing behind
#   tools/check-packages.sh windows  zip, then setup
# Prints what it checks; exits non-zero at the first thing that is not as it should be.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-all}
jobs=$(nproc)
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The Debian revision: the newest entry of the package's changelog.
revision=$(sed -n '1s/^morvane ([0-9.]*-\([0-9]*\)).*/\1/p' packaging/debian/changelog)
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
scratch=$(mktemp -d /tmp/morvane-packages.XXXXXX)
sims=()
trap 'kill "${sims[@]}" 2>/dev/null || true; wait "${sims[@]}" 2>/dev/null || true; rm -rf "$scratch"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }
free_udp_port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
udp_port_is_free() { python3 -c 'import socket,sys; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", int(sys.argv[1])))' "$1" 2>/dev/null; }

# start_sim SIM DIR TFTP_PORT: a simulated device on 127.0.0.1 with a free web port (in $http_port),
# its configuration in DIR/state.txt.
start_sim() {
  local sim=$1 dir=$2 tftp=$3
  printf 'hostname package-check\nip address 192.0.2.20\n' > "$dir/state.txt"
  "$sim" --listen 127.0.0.1:0 --state "$dir/state.txt" --tftp-port "$tftp" > "$dir/sim.out" 2>&1 &
  sims+=($!)
  for _ in $(seq 50); do grep -q listening "$dir/sim.out" 2>/dev/null && break; sleep 0.1; done
  http_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/sim.out")
  [ -n "$http_port" ] || fail "the simulator did not start: $(cat "$dir/sim.out")"
}

# The stored backup is the device's text with CR LF line ends.
check_backup() {
  local dir=$1 file=$2
  sed 's/$/\r/' "$dir/state.txt" | cmp -s - "$file" || fail "$file is not the device's text"
}

native_tools() {
  local need=()
  command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
  command -v setcap >/dev/null || need+=(libcap2-bin)
  command -v runuser >/dev/null || need+=(util-linux)
  command -v lintian >/dev/null || need+=(lintian)
  if ((${#need[@]})); then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
  fi
  cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF >/dev/null
  cmake --build build-pkg -j "$jobs" >/dev/null
}

# install_packages DEB...: apt installs them (and what they depend on) on this machine.
install_packages() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${@/#/./}" >/dev/null
}

deb() {
  native_tools
  rm -f build-pkg/*.deb
  (cd build-pkg && cpack -G DEB >/dev/null)
  local morvane=build-pkg/morvane_${version}-${revision}_amd64.deb
  local sim=build-pkg/tavio-sim_${version}-${revision}_amd64.deb package
  for package in "$morvane" "$sim"; do
    [ -f "$package" ] || fail "no $package"
    echo "== $package: $(stat -c %s "$package") bytes, $(dpkg-deb -f "$package" Installed-Size) KiB installed"
    dpkg-deb -f "$package" Depends
    dpkg-deb -c "$package" | awk '$1 !~ /^d/ { printf "  %8d %s\n", $3, substr($6, 2) }'
  done
  dpkg-deb -c "$morvane" | grep -q 'usr/bin/tavio-sim$' && fail "$morvane holds tavio-sim"

  # Every tag lintian has fails, down to the pedantic ones, unless the package overrides it. An
  # override left unused is no failure: the pieces of texts the optimiser stores overlapping move
  # with the code, and their overrides with them.
  # (lintian reports an override of a spelling that no longer matches as a mismatched one.)
  local tags lintian_rc=0
  tags=$(lintian --pedantic -I --fail-on none "$morvane" "$sim" 2>&1) || lintian_rc=$?
  grep -v '^running with root privileges' <<<"$tags" || true
  [ "$lintian_rc" -eq 0 ] || fail "lintian could not check the packages (exit code $lintian_rc)"
  grep -E '^[EWIPX]: ' <<<"$tags" |
    grep -vE '^[WI]: [a-z0-9-]+: (unused|mismatched)-override spelling-error-in-binary ' |
    grep -q . && fail "lintian has tags the packages do not override"
  echo "== lintian: no tag beyond the packages' overrides"

  install_packages "$morvane" "$sim"
  echo "== installed: $(morvane-cli --version), $(tavio-sim --version)"
  [ "$(command -v morvane-cli)" = /usr/bin/morvane-cli ] || fail "morvane-cli is not /usr/bin's"
  [ "$(morvane-cli --version)" = "morvane-cli $version" ] || fail "morvane-cli --version"
  [ "$(tavio-sim --version)" = "tavio-sim $version" ] || fail "tavio-sim --version"
  local caps
  caps=$(getcap /usr/bin/morvane-cli)
  echo "== $caps"
  grep -qE 'cap_net_bind_service[=+]e?p' <<<"$caps" || fail "morvane-cli lacks cap_net_bind_service"
  [ "$(grep -c cap_ <<<"$caps")" -eq 1 ] && ! grep -q ',' <<<"${caps#* }" || fail "more than one capability"
  getent passwd morvane >/dev/null || fail "no system user morvane"
  [ "$(stat -c %U:%G /var/lib/morvane)" = morvane:morvane ] || fail "/var/lib/morvane's owner"
  [ "$(stat -c %G /etc/morvane)" = morvane ] || fail "/etc/morvane's group"
  man -w morvane-cli >/dev/null 2>&1 || [ -f /usr/share/man/man1/morvane-cli.1.gz ] || fail "no man page"
  for file in /usr/share/doc/morvane/{README.md.gz,changelog.Debian.gz,copyright} \
    /usr/share/doc/tavio-sim/{changelog.Debian.gz,copyright} /usr/share/lintian/overrides/{morvane,tavio-sim}; do
    [ -f "$file" ] || fail "no $file"
  done

  if command -v systemd-analyze >/dev/null; then
    # A template is checked through an instance of it.
    local units=$scratch/units
    mkdir -p "$units"
    for kind in service timer; do
      ln -s "/usr/lib/systemd/system/morvane-fleet-backup@.$kind" "$units/morvane-fleet-backup@ci.$kind"
    done
    ln -s /usr/lib/systemd/system/morvane-fleet-alert@.service "$units/morvane-fleet-alert@ci.service"
    systemd-analyze verify --man=no "$units"/morvane-fleet-backup@ci.{service,timer} \
      "$units"/morvane-fleet-alert@ci.service ||
      fail "systemd-analyze verify"
    echo "== systemd-analyze verify: the units are sound"
  fi

  echo "== The README's demo with the installed programs"
  bash tools/demo.sh --installed >"$scratch/demo.log" 2>&1 || { cat "$scratch/demo.log"; fail "demo"; }
  grep -E '^(==|Backup complete|Fleet backup:)' "$scratch/demo.log"

  # The point of the capability: a user who is not root runs a backup on UDP port 69 itself.
  if [ "$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)" -le 69 ]; then
    echo "== any user may bind port 69 here: the capability cannot be put to the test"
  elif udp_port_is_free 69; then
    local dir=$scratch/port69
    mkdir -p "$dir/out" && chown morvane:morvane "$dir/out" && chmod 755 "$scratch" "$dir"
    start_sim /usr/bin/tavio-sim "$dir" 69
    runuser -u morvane -- /usr/bin/morvane-cli backup 127.0.0.1 "$dir/out/device.cfg" \
      --http-port "$http_port" || fail "the user morvane could not back up on port 69"
    check_backup "$dir" "$dir/out/device.cfg"
    echo "== the user morvane backed a device up on UDP port 69"
  else
    echo "== UDP port 69 is in use here: no backup as an unprivileged user on it"
  fi

  # A production machine: morvane without the simulator.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq tavio-sim >/dev/null
  [ ! -e /usr/bin/tavio-sim ] || fail "/usr/bin/tavio-sim outlived its package"
  [ "$(morvane-cli --version)" = "morvane-cli $version" ] || fail "morvane-cli without tavio-sim"
  echo "== morvane without tavio-sim: $(morvane-cli --version)"

  # A purge takes along the links of the timer instances the administrator enabled (made here as
  # systemctl makes them, with systemctl when it is there).
  local wants=/etc/systemd/system/timers.target.wants
  local instance=$wants/morvane-fleet-backup@ci.timer
  if command -v systemctl >/dev/null; then
    $SUDO systemctl enable morvane-fleet-backup@ci.timer >/dev/null 2>&1 ||
      fail "systemctl enable morvane-fleet-backup@ci.timer"
  else
    $SUDO mkdir -p "$wants"
    $SUDO ln -s /usr/lib/systemd/system/morvane-fleet-backup@.timer "$instance"
  fi
  [ -L "$instance" ] || fail "enabling the timer instance made no $instance"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq morvane >/dev/null
  local left
  left=$(find /etc/systemd/system -name 'morvane-fleet-backup@*' 2>/dev/null)
  [ -z "$left" ] || fail "the purge left $left"
  [ ! -e /usr/bin/morvane-cli ] || fail "/usr/bin/morvane-cli outlived its package"
  echo "== purged morvane after enabling morvane-fleet-backup@ci.timer: no link left behind"

  install_packages "$morvane" "$sim"
  echo "== installed again: $(morvane-cli --version), $(tavio-sim --version)"
}

# The Windows programs, cross-built into $build (MORVANE_WIN_BUILD, default build-win).
build=${MORVANE_WIN_BUILD:-build-win}
# What both Windows packages hold.
windows_files="morvane.exe morvane-cli.exe morvane.html README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt"
windows_build() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" -j "$jobs" --target morvane morvane-cli >/dev/null
}

# The build's Wine prefix (made once, as tools/run-windows-tests.sh makes it, with the null
# graphics driver), in WINEPREFIX. Wine's menu builder stays off: it would mirror the prefix's
# Start menu into this machine's own desktop menus.
wine_prefix() {
  export WINEPREFIX="$root/$build/wineprefix" WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$WINEPREFIX/.morvane-ready" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot --init >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    timeout 120 wineserver -w
    touch "$WINEPREFIX/.morvane-ready"
  fi
}

# wine_cli CLI WHAT: CLI (a morvane-cli.exe) under Wine says its version and backs a simulated
# device (the native simulator) up; WHAT names it in the report.
wine_cli() {
  local cli=$1 what=$2 said
  said=$(timeout 60 wine "$cli" --version </dev/null | tr -d '\r')
  [ "$said" = "morvane-cli $version" ] || fail "$what --version said '$said'"
  echo "== under Wine: $said"
  local sim=build-pkg/sim/tavio-sim
  [ -x "$sim" ] || native_tools
  local dir
  dir=$(mktemp -d "$scratch/wine.XXXXXX")
  local tftp
  tftp=$(free_udp_port)
  start_sim "$sim" "$dir" "$tftp"
  (cd "$dir" && timeout 120 wine "$cli" backup 127.0.0.1 device.cfg --http-port "$http_port" \
    --tftp-port "$tftp" </dev/null | tr -d '\r') || fail "$what backup"
  check_backup "$dir" "$dir/device.cfg"
  echo "== under Wine: $what backed the simulated device up"
}

zip_package() {
  windows_build
  rm -f "$build"/morvane-*-win64.zip
  (cd "$build" && cpack -G ZIP >/dev/null)
  local name=morvane-${version}-win64
  local package=$build/$name.zip
  [ -f "$package" ] || fail "no $package"
  echo "== $package: $(stat -c %s "$package") bytes"
  unzip -l "$package" | sed -n 's/^ *\([0-9][0-9]*\) .*  \(morvane.*[^/]\)$/  \1 \2/p'
  unzip -q "$package" -d "$scratch/zip"
  for file in $windows_files; do
    [ -f "$scratch/zip/$name/$file" ] || fail "the zip lacks $file"
  done
  strings -el "$scratch/zip/$name/morvane.exe" | grep -qx "$version" ||
    fail "morvane.exe's version resource does not say $version"
  grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$scratch/zip/$name/THIRD-PARTY-NOTICES.txt" &&
    grep -q 'mingw-w64-libraries/winpthreads' "$scratch/zip/$name/THIRD-PARTY-NOTICES.txt" ||
    fail "THIRD-PARTY-NOTICES.txt lacks the GCC runtime's or winpthreads' licence"

  wine_prefix
  wine_cli "$scratch/zip/$name/morvane-cli.exe" "the zip's morvane-cli.exe"
  wineserver -k 2>/dev/null || true
}

setup_package() {
  command -v makensis >/dev/null || fail "no makensis: tools/install-deps.sh installs nsis"
  windows_build
  # The cache of a build configured before nsis was installed knows no makensis.
  grep -q '^MORVANE_MAKENSIS:FILEPATH=/' "$build/CMakeCache.txt" || cmake "$build" >/dev/null
  rm -f "$build"/morvane-*-win64-setup.exe
  (cd "$build" && cpack -G NSIS >/dev/null)
  local package=$build/morvane-${version}-win64-setup.exe
  [ -f "$package" ] || fail "no $package"
  echo "== $package: $(stat -c %s "$package") bytes"

  # A fresh prefix: a copy of the build's, in which nothing was ever installed (making a new one
  # takes Wine some 20 s).
  wine_prefix
  timeout 60 wineserver -k 2>/dev/null || true
  local fresh=$root/$build/wineprefix-setup
  rm -rf "$fresh"
  cp -a "$WINEPREFIX" "$fresh"
  export WINEPREFIX=$fresh
  local c=$WINEPREFIX/drive_c
  local dir="$c/Program Files/Morvane"
  local menu="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Morvane"
  local arp='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane'
  local vendor='HKLM\Software\Drennick'
  local environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
  system_path() { wine reg query "$environment" /v PATH 2>/dev/null | tr -d '\r'; }
  # What the prefix holds: its files, and its registry's lines that name Morvane (the build's
  # tests may have left some), without the keys' time stamps.
  prefix_contents() {
    (cd "$c" && find . | sort | grep -vE '^\./users/[^/]+/Temp/~nsu[^/]*\.tmp(/Un\.exe)?$')
    grep -ih morvane "$WINEPREFIX"/*.reg | sed 's/^\(\[.*\]\) [0-9]*$/\1/' | sort || true
  }
  timeout 60 wineserver -w
  prefix_contents >"$scratch/before.txt"

  # A PATH choice the installer does not know installs nothing.
  local rc=0
  timeout 120 wine "$package" /S /PATH=everywhere </dev/null || rc=$?
  [ "$rc" -eq 2 ] || fail "the installer took /PATH=everywhere (exit code $rc, not 2)"
  [ ! -e "$dir" ] || fail "the installer with /PATH=everywhere installed $dir"

  installed() {  # the files, the shortcuts, the entry and one PATH entry are there
    local file
    for file in $windows_files Uninstall.exe; do
      [ -f "$dir/$file" ] || fail "$1: the installation lacks $file"
    done
    for file in Morvane.lnk Uninstall.lnk; do
      [ -f "$menu/$file" ] || fail "$1: the Start menu lacks Morvane\\$file"
    done
    wine reg query "$arp" /v UninstallString >/dev/null 2>&1 || fail "$1: no Add/Remove Programs entry $arp"
    [ "$(system_path | tr ';' '\n' | grep -cF 'C:\Program Files\Morvane')" -eq 1 ] ||
      fail "$1: the system PATH does not hold the installation once: $(system_path)"
  }
  timeout 120 wine "$package" /S /PATH=all </dev/null || fail "the installer /S /PATH=all failed"
  installed "installed"
  echo "== installed silently (/S /PATH=all) into C:\\Program Files\\Morvane, with its Start-menu shortcut and Add/Remove Programs entry"
  # Over an installation: a bad switch leaves it as it is; a good one replaces it.
  rc=0
  timeout 120 wine "$package" /S /PATH=everywhere </dev/null || rc=$?
  [ "$rc" -eq 2 ] || fail "over an installation, the installer took /PATH=everywhere (exit code $rc, not 2)"
  installed "after a refused /PATH=everywhere"
  timeout 180 wine "$package" /S /PATH=all </dev/null || fail "the installer over an installation failed"
  timeout 120 wineserver -w || fail "the installation over an installation did not finish within 120 s"
  installed "installed again over itself"
  echo "== over the installation: /PATH=everywhere refused and nothing changed; installed again, PATH entry once"
  # Found on PATH by its name alone, as a scheduled task finds it.
  local said
  said=$(timeout 60 wine cmd /c morvane-cli --version </dev/null | tr -d '\r')
  [ "$said" = "morvane-cli $version" ] || fail "morvane-cli on PATH said '$said'"
  echo "== on PATH: $said"
  wine_cli "$dir/morvane-cli.exe" "the installed morvane-cli.exe"

  # NSIS's uninstaller runs from a copy of itself in Temp and returns at once: the uninstallation
  # is over when the prefix's last process is.
  timeout 60 wine 'C:\Program Files\Morvane\Uninstall.exe' /S </dev/null || fail "Uninstall.exe /S failed"
  timeout 120 wineserver -w || fail "the uninstaller did not finish within 120 s"
  [ ! -e "$dir" ] || fail "the uninstaller left $(cd "$dir" && ls -A | tr '\n' ' ')"
  [ ! -e "$menu" ] || fail "the uninstaller left the Start-menu folder Morvane"
  ! wine reg query "$arp" >/dev/null 2>&1 || fail "the uninstaller left $arp"
  ! wine reg query "$vendor" >/dev/null 2>&1 || fail "the uninstaller left $vendor"
  ! system_path | grep -qiF 'Morvane' || fail "the uninstaller left the system PATH $(system_path)"
  # Nothing else either: no file beyond the uninstaller's copy in Temp (which Windows deletes at
  # the next start, as the uninstaller asked), no new registry entry that names Morvane.
  prefix_contents >"$scratch/after.txt"
  diff "$scratch/before.txt" "$scratch/after.txt" || fail "the uninstallation left what is above"
  echo "== uninstalled silently: no file, shortcut, registry key or PATH entry left"
  rm -rf "$fresh"
}

case "$mode" in
  all) deb; zip_package; setup_package ;;
  deb) deb ;;
  windows) zip_package; setup_package ;;
  zip) zip_package ;;
  setup) setup_package ;;
  *) echo "usage: $0 [all|deb|windows|zip|setup]" >&2; exit 1 ;;
esac
