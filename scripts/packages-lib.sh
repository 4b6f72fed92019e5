# Sourced by the scripts that install Debian packages (setup.sh, windows.sh).
#
#   ensure_packages WHO PACKAGE...
#
# Installs with apt-get those of the packages that are not installed yet
# (nothing, not even apt-get update, when all are), as root or through sudo,
# and says which under the name WHO.
ensure_packages() {
  local who="$1" p sudo=""
  shift
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$who: installing ${missing[*]}"
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
