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

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
