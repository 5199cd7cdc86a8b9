#!/usr/bin/env bash
# The manual page and the bash completion against the program's --help: the
# same options, and the same function codes. Options named after
# --pending are documented in the manual page ahead of the program; once
# --help lists one, the test fails until it leaves the pending list.
# usage: command_line_docs_test.sh AGENT MANUAL_PAGE COMPLETION [--pending OPTION...]
set -u
agent=$1 page=$2 completion=$3
shift 3
pending=()
[ "${1:-}" = --pending ] && shift && pending=("$@")
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

help=$("$agent" --help) || { echo "FAIL: $agent --help exited with $?"; exit 1; }
help_options=$(grep -oE '^  --[a-z-]+' <<<"$help" | tr -d ' ' | sort)
help_codes=$(sed -n '/^Function codes:/,/^$/s/^  \([0-9][0-9:N]*\) .*/\1/p' <<<"$help" | sort)
[ -n "$help_options" ] && [ -n "$help_codes" ] || fail "--help lists no options or no codes"

# The first line after each .TP of a section, as text: ".BI 27: N" is 27:N.
entries() {
  awk -v section="$1" '
    /^\.SH/ { inside = ($0 == ".SH " section); next }
    inside && /^\.TP/ { take = 1; next }
    inside && take { take = 0; sub(/^\.[A-Z]+ /, ""); gsub(/[" ]/, ""); gsub(/\\-/, "-"); print }
  ' "$page"
}
man_options=$(entries OPTIONS | grep -oE '^--[a-z-]+' | sort)
man_codes=$(entries 'FUNCTION CODES' | sort)
for option in "${pending[@]}"; do
  if grep -qx -- "$option" <<<"$help_options"; then
    fail "--help lists $option now: take it off the pending list in tests/packaging/CMakeLists.txt"
    continue
  fi
  grep -qx -- "$option" <<<"$man_options" || fail "the pending $option is not in the manual page"
  man_options=$(grep -vx -- "$option" <<<"$man_options")
done
[ "$man_options" = "$help_options" ] ||
  fail "the options differ (< manual page, > --help):"$'\n'"$(diff <(echo "$man_options") <(echo "$help_options"))"
[ "$man_codes" = "$help_codes" ] ||
  fail "the function codes differ (< manual page, > --help):"$'\n'"$(diff <(echo "$man_codes") <(echo "$help_codes"))"

# complete WORD...: what the completion offers for the last word.
complete_words() {
  PATH=$(dirname "$agent"):$PATH bash -c '
    source /usr/share/bash-completion/bash_completion && source "$1" || exit 1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    _velt_mouse_assistant velt-mouse-assistant "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    printf "%s\n" "${COMPREPLY[@]}"' sh "$completion" velt-mouse-assistant "$@" | sort
}
expanded_codes=$(sed 's/^27:N$/27:1\n27:2\n27:3\n27:4\n27:5\n27:6/' <<<"$help_codes" | sort)
[ "$(complete_words --)" = "$help_options" ] || fail "completing -- offers: $(complete_words --)"
for option in --run --press --release; do
  [ "$(complete_words "$option" '')" = "$expanded_codes" ] ||
    fail "completing $option offers: $(complete_words "$option" '' | tr '\n' ' ')"
done
[ "$(complete_words --run 27:)" = "$(seq 1 6)" ] || fail "completing 27: offers: $(complete_words --run 27:)"
[ -z "$(complete_words --show '')" ] || fail "a second option is offered after --show"

[ $failures -eq 0 ] && echo "the manual page and the completion list what --help lists"
exit $((failures > 0))
