# shellcheck shell=bash
# need PKG...: installs the Debian packages that are missing, and only those
# (apt-get update once a run). Sourced by .ci/run and by each stage run alone.
need() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    if [ -z "${CI_APT_UPDATED:-}" ]; then apt-get update -qq; export CI_APT_UPDATED=1; fi
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}
