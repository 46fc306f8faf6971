# Sourced by the set-up scripts (as root): apt-get with what a fresh machine
# meets. A mirror in the middle of a sync serves an index of the wrong size
# for a while; the update is tried again, and then the install decides,
# since the packages needed may well be installable from the lists at hand.

apt_update() {
  local try err
  err=$(mktemp)
  for try in 1 2 3 4; do
    if ${sudo:-} apt-get update -qq 2>"$err"; then rm -f "$err"; return 0; fi
    [ "$try" = 4 ] || sleep $((try * 15))
  done
  # Seen on a fresh machine: the lists here came from a newer release of a
  # suite than the one the mirror serves whole, and apt keeps the newer one
  # (it asks only whether it changed). Set that release aside once, so that
  # apt takes the mirror's own.
  local release
  release=$(grep -m1 -oE 'Failed to fetch [a-z]+://[^ ]+/dists/[^/ ]+/' "$err" | sed -E 's/^Failed to fetch [a-z]+:\/\///; s/\//_/g')
  if [ -n "$release" ]; then
    ${sudo:-} rm -f "/var/lib/apt/lists/${release}InRelease" "/var/lib/apt/lists/${release}Release" \
      "/var/lib/apt/lists/${release}Release.gpg"
    if ${sudo:-} apt-get update -qq 2>"$err"; then rm -f "$err"; return 0; fi
  fi
  echo "setup: apt-get update still fails after 4 tries ($(grep -m1 '^E:' "$err" | sed -E 's/ *\[IP:.*//' | cut -c1-200)); going on with the lists at hand" >&2
  rm -f "$err"
}

# apt_install HINT APT-GET-INSTALL-ARGS...: one line saying which packages and
# why when the install fails, with HINT (may be empty) after it.
apt_install() {
  local hint=$1 err status=0
  shift
  err=$(mktemp)
  ${sudo:-} env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >"$err" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    local packages reason
    packages=$(printf '%s ' "$@" | sed -E 's/(^| )-[^ ]+( [a-z]+-backports)?//g; s/^ +| +$//g')
    # The first unmet dependency says more than apt's closing error.
    reason=$( { grep -m1 'Depends:' "$err" || grep -m1 '^E:' "$err"; } | sed -E 's/^E: //; s/^ +//; s/ +/ /g' | cut -c1-240)
    echo "setup: could not install ${packages}: ${reason:-apt-get exited with $status}${hint:+ ($hint)}" >&2
  fi
  rm -f "$err"
  return "$status"
}
