# bash completion for ombrevault-cli                               -*- shell-script -*-

# Puts the files (or, with -d, the folders) that begin with the current word on offer.
_ombrevault_cli_paths()
{
    local kind=${1:--f}
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$kind" -- "$cur")
}

_ombrevault_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W 'wipe drive-info clean-free-space help
            --help --version' -- "$cur")
        return
    fi

    case ${COMP_WORDS[1]} in
    wipe)
        local i
        for ((i = 2; i < COMP_CWORD; i++)); do
            if [[ ${COMP_WORDS[i]} == -- ]]; then
                _ombrevault_cli_paths
                return
            fi
        done
        # "--level=x" arrives as the three words "--level", "=" and "x".
        if [[ $prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --level ]]; then
            prev=--level
        elif [[ $cur == = && $prev == --level ]]; then
            cur=
        fi
        if [[ $prev == --level ]]; then
            mapfile -t COMPREPLY < <(compgen -W '1 2 3 least medium high' -- "$cur")
        elif [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--level --scramble --no-scramble --log
                --no-log --quiet --help --' -- "$cur")
        else
            _ombrevault_cli_paths
        fi
        ;;
    drive-info | clean-free-space)
        if ((COMP_CWORD == 2)); then
            if [[ $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W '--help' -- "$cur")
            else
                _ombrevault_cli_paths -d
            fi
        fi
        ;;
    esac
}

complete -F _ombrevault_cli ombrevault-cli
