#!/bin/bash
# The bash completion of sc820-host offers the right words at each position. bash-completion's
# helpers are replaced by small stand-ins so the test needs only bash.
#   completion_test.sh COMPLETION_FILE
set -u
_init_completion() { words=("${COMP_WORDS[@]}") cword=$COMP_CWORD; cur="${words[cword]}" prev="${words[cword - 1]}"; }
_filedir() { COMPREPLY=("<files${1:+ $1}>"); }
complete() { :; }
# shellcheck source=/dev/null
source "$1"

failures=0
# Each case: the command line typed so far (the last word is being completed) | the offers.
while IFS='|' read -r line expected; do
    [ -z "$line" ] && continue
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _sc820_host
    [ "${COMPREPLY[*]}" = "$expected" ] ||
        { echo "FAIL: '$line' offered '${COMPREPLY[*]}', expected '$expected'"; failures=$((failures + 1)); }
done <<'CASES'
sc820-host |init status log eeprom factory flash attach detach auth fault repair restart
sc820-host re|repair restart
sc820-host f|factory flash fault
sc820-host --|--root --help --version
sc820-host --root |<files -d>
sc820-host --root /tmp/h fa|factory fault
sc820-host fault |master-port matching search open duplicate-service refuse-0 refuse-1 refuse-2 refuse-3 refuse-4 refuse-5
sc820-host fault open |on off
sc820-host eeprom |show get put
sc820-host eeprom get |<files>
sc820-host eeprom show |
sc820-host factory |get put
sc820-host flash |get put erase
sc820-host attach 1|1 10 11 12 13 14 15
sc820-host detach |0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15
sc820-host auth |allow deny cancel
sc820-host init -|--force --help
CASES
[ "$failures" -eq 0 ] && echo "all completions as expected"
exit $((failures > 0))
