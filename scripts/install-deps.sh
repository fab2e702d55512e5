#!/usr/bin/env bash
# Installs the build and test dependencies with apt-get, only those that are missing,
# so a second run on a ready machine finishes in seconds.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libzip-dev libcurl4-openssl-dev
  libc-ares-dev libmaxminddb-dev libmicrohttpd-dev
  python3 python3-pyftpdlib python3-aiosmtpd python3-pil unrtf
  xfonts-base
  dnsmasq-base chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
apt_updated=""

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  apt_updated=1
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The address databases for countries and organisations of numeric clients,
# from npm: the country database as it comes, the AS CSV files turned into the
# compact table the program loads at start-up. Skipped when both are there; a
# failed download is reported and the build goes on (the tests that need the
# data then skip).
ipdata=/usr/local/share/tallowick/ipdata
install_ip_data() {
  if ! command -v npm >/dev/null 2>&1; then
    [ -n "$apt_updated" ] || $sudo apt-get update -qq || return 1
    $sudo apt-get install -y -qq --no-install-recommends npm || return 1
  fi
  local here work
  here="$(cd "$(dirname "$0")" && pwd)"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' RETURN
  (cd "$work" && npm pack --silent @ip-location-db/geo-whois-asn-country-mmdb @ip-location-db/asn \
    >/dev/null) || return 1
  mkdir -p "$work/country" "$work/asn"
  tar xzf "$work"/ip-location-db-geo-whois-asn-country-mmdb-*.tgz -C "$work/country" || return 1
  tar xzf "$work"/ip-location-db-asn-*.tgz -C "$work/asn" || return 1
  /usr/bin/python3 "$here/make_as_table.py" "$work/asn/package/asn-ipv4.csv" \
    "$work/asn/package/asn-ipv6.csv" "$work/asn.tbl" || return 1
  $sudo mkdir -p "$ipdata" || return 1
  $sudo cp "$work/asn/package/DBIP-LICENSE" "$work/asn/package/ROUTEVIEWS-LICENSE" \
    "$work/asn/package/NRO_LICENSE" "$ipdata/" || return 1
  # The table last: its presence says the data is complete.
  $sudo cp "$work/country/package/geo-whois-asn-country.mmdb" "$ipdata/" || return 1
  $sudo cp "$work/asn.tbl" "$ipdata/asn.tbl.new" && $sudo mv "$ipdata/asn.tbl.new" "$ipdata/asn.tbl"
}
if [ ! -s "$ipdata/geo-whois-asn-country.mmdb" ] || [ ! -s "$ipdata/asn.tbl" ]; then
  echo "Fetching the address databases into $ipdata"
  install_ip_data || echo "warning: the address databases could not be installed" >&2
fi
