# bash completion of drivemap. The commands and options come from the drivemap being completed
# (`drivemap --help`, `drivemap COMMAND --help`), so they stay those of that version.

# The options of drivemap or of one command: "-0,--null" gives both spellings.
_drivemap_options() {
    "$1" ${2:+"$2"} --help 2>/dev/null | sed -nE 's/^  (-[^ ]+).*/\1/p' | tr ',' '\n'
}

_drivemap_commands() {
    "$1" --help 2>/dev/null | sed -nE '/^Subcommands:/,/^$/s/^  ([a-z]+) .*/\1/p'
}

_drivemap() {
    local cur prev words cword
    _init_completion || return
    case $prev in
        --prefix | --state) _filedir -d; return ;;
        --platform) mapfile -t COMPREPLY < <(compgen -W 'nt 95 win32s' -- "$cur"); return ;;
        --drive | --windows-dir | --system-dir) return ;;
    esac

    # The command: the first word that is neither an option nor an option's value.
    local command='' i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --drive | --prefix | --platform | --windows-dir | --system-dir | --state) ((i++)) ;;
            -*) ;;
            *) command=${words[i]}; break ;;
        esac
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_drivemap_options "${words[0]}" "$command")" -- "$cur")
    elif [[ -z $command || $command == help ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(_drivemap_commands "${words[0]}")" -- "$cur")
    else
        _filedir
    fi
}
complete -F _drivemap drivemap
