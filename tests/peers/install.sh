#!/usr/bin/env bash
# Installs the servers the network tests talk to (dovecot for POP3, INN for
# NNTP, aiosmtpd for SMTP) and, with --bench, fetchmail for the POP3
# benchmark.  Quick and silent when everything is present.
#
# No daemon of these packages may start system-wide: a policy-rc.d that
# refuses every start is in place while apt runs, and on a systemd host the
# units are disabled afterwards.  The tests run their own private copies.
set -euo pipefail

pkgs=(dovecot-core dovecot-pop3d inn2 python3-aiosmtpd)
[ "${1:-}" = "--bench" ] && pkgs+=(fetchmail)

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "peers install: missing ${missing[*]}; run $0 as root" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -y -q -o DPkg::Lock::Timeout=900
     -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)

policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# no service starts while the test peers are installed\nexit 101\n' > "$policy"
    chmod 755 "$policy"
    made_policy=1
fi
trap '[ $made_policy = 1 ] && rm -f "$policy"; true' EXIT

# A fresh machine has no package lists; refresh them when older than a day.
if [ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages' -mmin -1440 2>/dev/null | head -1)" ]; then
    "${apt[@]}" update >&2
fi

echo "peers install: ${missing[*]}" >&2
if ! "${apt[@]}" install --no-install-recommends "${missing[@]}" >&2; then
    # inn2's configure step asks INN for its domain, which fails on a host
    # whose name has no domain part; give the system inn.conf one (our own
    # INN has its own inn.conf) and finish configuring.
    if [ -f /etc/news/inn.conf ] && ! /usr/lib/news/bin/innconfval -C >/dev/null 2>&1; then
        sed -i 's/^#\?domain:.*/domain:                      localdomain/' /etc/news/inn.conf
    fi
    dpkg --configure -a >&2
    "${apt[@]}" install --no-install-recommends "${missing[@]}" >&2
fi

if [ -d /run/systemd/system ]; then
    for unit in dovecot.service dovecot.socket inn2.service exim4.service; do
        systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
fi
