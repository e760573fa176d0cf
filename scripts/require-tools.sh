# Sourced by the test stages that need tools a fresh machine may lack:
#   require_tools STAGE "INSTALL HINT" TOOL...
# Without one of the tools the stage ends: with a SKIPPED line, or, in CI
# (which installs them all), as a failure.
require_tools() {
  local stage=$1 hint=$2
  shift 2
  local missing=() tool
  for tool in "$@"; do
    command -v "$tool" > /dev/null || missing+=("$tool")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "${CI:-}" = "true" ]; then
    echo "$stage: missing ${missing[*]}" >&2
    exit 1
  fi
  echo "$stage: SKIPPED (missing ${missing[*]}: $hint)"
  exit 0
}
