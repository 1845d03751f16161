#!/usr/bin/env bash
# The bash completion offers a file name with a space as one word, after --port as elsewhere.
set -eu
source "$1"
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
touch "MY GAME.BAS"
for words in "kibro-send MY" "kibro-send --port MY"; do
    read -ra COMP_WORDS <<<"$words"
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kibro_send
    if [[ ${#COMPREPLY[@]} != 1 || ${COMPREPLY[0]} != "MY GAME.BAS" ]]; then
        printf '%s: offered' "$words"
        printf ' [%s]' "${COMPREPLY[@]}"
        printf '\n'
        exit 1
    fi
done
