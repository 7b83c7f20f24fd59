#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing else.
# The lists live in scripts/packages/*.txt (one package per line, # comments).
# Idempotent: packages already installed are not touched.  Works as root and
# through sudo.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mapfile -t wanted < <(cat "$here"/packages/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
# Server packages (sshd, stunnel, rlogind) are test peers that the tests start
# themselves on 127.0.0.1: their own services must neither start nor stay
# enabled.  A policy-rc.d that exits 101 forbids starting them during the
# install (one already in place is kept as it is).
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod 755 "$policy"
  own_policy=1
fi
trap 'if [ "$own_policy" = 1 ]; then "${as_root[@]}" rm -f "$policy"; fi' EXIT
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
# What the install enabled for later boots is turned off again: the init
# scripts and systemd units of the servers (deb-systemd-helper acts only for
# a named package), and rsh-server's inetd entries.
for svc in ssh stunnel4; do
  if [ -e "/etc/init.d/$svc" ]; then
    "${as_root[@]}" update-rc.d "$svc" disable >/dev/null 2>&1 || true
  fi
done
if command -v deb-systemd-helper >/dev/null 2>&1; then
  "${as_root[@]}" env DPKG_MAINTSCRIPT_PACKAGE=openssh-server \
    deb-systemd-helper disable ssh.service ssh.socket >/dev/null 2>&1 || true
  "${as_root[@]}" env DPKG_MAINTSCRIPT_PACKAGE=stunnel4 \
    deb-systemd-helper disable stunnel.target >/dev/null 2>&1 || true
fi
if command -v update-inetd >/dev/null 2>&1 && [ -e /etc/inetd.conf ]; then
  for inetd_svc in login shell exec; do
    "${as_root[@]}" update-inetd --disable "$inetd_svc" >/dev/null 2>&1 || true
  done
fi
