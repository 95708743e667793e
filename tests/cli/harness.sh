# Shared by the end-to-end suites: options, the check and skip functions, the
# summary. A suite sources this file with its own arguments, then runs checks.
#
# options: [--windows] [--launcher CMD] [--argv0 NAME] --examples DIR EXE
#   --windows    the executable is a Windows build: lines end in CR LF, and
#                cases that need Linux devices are skipped (and listed as such)
#   --launcher   a program to run the executable with (e.g. wine); repeatable
#   --argv0      argument 0 as the executable will see it (default: EXE)
set -u

launcher=()
eol=$'\n'
windows=0
argv0=
examples=
while [ $# -gt 1 ]; do
  case $1 in
    --windows) windows=1 eol=$'\r\n'; shift ;;
    --launcher) launcher+=("$2"); shift 2 ;;
    --argv0) argv0=$2; shift 2 ;;
    --examples) examples=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] && [ -n "$examples" ] || { sed -n '4,9p' "${BASH_SOURCE[0]}" >&2; exit 2; }
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")  # the cases run elsewhere
if [ -z "$argv0" ]; then
  argv0=$exe
  # Wine hands a Windows program its own path in DOS form.
  if [ "$windows" = 1 ] && command -v winepath >/dev/null; then argv0=$(winepath -w "$exe"); fi
fi

work=$(mktemp -d)
results=$(mktemp -d)
cleanup() { chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work" "$results"; }
trap cleanup EXIT
passed=0 failed=0 skipped=0

# The lines as the tool writes them on this platform.
lines() {
  local line
  for line in "$@"; do printf '%s%s' "$line" "$eol"; done
}
usage=$(lines "$argv0 (-v) [file]" "" \
  "This program conjectures the text encoding of [file] for Penwick." \
  "Without -v option, no error message is shown."; printf x)
usage=${usage%x}
utf8=$(lines "code.page=65001"; printf x) utf8=${utf8%x}
sjis=$(lines "code.page=932"; printf x) sjis=${sjis%x}

# Per case settings, back to their defaults after each check:
#   stdout_to   where the tool's standard output goes: file, full or closed
#   stderr_to   file or closed
#   as_user     a command that runs the tool as another user (e.g. setpriv ...)
#   limit       seconds before the case is stopped (status 124, as timeout(1))
#   any_output  when set, standard output may be any one of these instead
stdout_to=file stderr_to=file as_user=() limit=30 any_output=()

# check NAME STATUS STDOUT STDERR [ARGS...]: runs the tool in the work folder.
check() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4 status
  shift 4
  : >"$results/out"
  : >"$results/err"
  (
    cd "$work" || exit 125
    case $stdout_to in full) exec >/dev/full ;; closed) exec >&- ;; *) exec >"$results/out" ;; esac
    case $stderr_to in closed) exec 2>&- ;; *) exec 2>"$results/err" ;; esac
    exec timeout -k 5 "$limit" "${as_user[@]}" "${launcher[@]}" "$exe" "$@"
  )
  status=$?
  local problems=() acceptable=("$want_out") candidate matched=0
  [ ${#any_output[@]} -gt 0 ] && acceptable=("${any_output[@]}")
  for candidate in "${acceptable[@]}"; do
    printf '%s' "$candidate" >"$results/want_out"
    cmp -s "$results/out" "$results/want_out" && matched=1
  done
  printf '%s' "$want_err" >"$results/want_err"
  [ "$status" = "$want_status" ] || problems+=("exit status $status, expected $want_status")
  [ "$matched" = 1 ] ||
    problems+=("stdout $(od -c "$results/out" | head -3), expected $(od -c "$results/want_out" | head -3)")
  cmp -s "$results/err" "$results/want_err" ||
    problems+=("stderr $(od -c "$results/err" | head -6), expected $(od -c "$results/want_err" | head -6)")
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok      $name"
  else
    failed=$((failed + 1))
    echo "FAILED  $name"
    printf '        %s\n' "${problems[@]}"
  fi
  stdout_to=file stderr_to=file as_user=() limit=30 any_output=()
}

skip() {
  skipped=$((skipped + 1))
  echo "skipped $1 ($2)"
}

# linux_only NAME REASON: true on Linux; elsewhere skips NAME for REASON.
linux_only() { [ "$windows" = 0 ] || { skip "$1" "$2"; return 1; }; }

summary() {
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}
