#!/usr/bin/env bash
# The bash completion offers a file name with a space as one word, after --port as elsewhere,
# and each program's own options.
set -eu
source "$1"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch "MY GAME.BAS"
check() {
    local words=$1 want=$2
    read -ra COMP_WORDS <<<"$words"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kibro_terminal "${COMP_WORDS[0]}"
    if [[ ${#COMPREPLY[@]} != 1 || ${COMPREPLY[0]} != "$want" ]]; then
        printf '%s: offered' "$words"
        printf ' [%s]' "${COMPREPLY[@]}"
        printf '\n'
        exit 1
    fi
}
check "kibro-send MY" "MY GAME.BAS"
check "kibro-send --port MY" "MY GAME.BAS"
check "kibro-receive MY" "MY GAME.BAS"
check "kibro-receive --fo" "--force"
