# bash completion for ombrevault-cli                               -*- shell-script -*-

# Puts the files (or, with -d, the folders) that begin with the current word on offer.
_ombrevault_cli_paths()
{
    local kind=${1:--f}
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$kind" -- "$cur")
}

_ombrevault_cli_words()
{
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_ombrevault_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands='wipe drive-info clean-free-space help'
    local common='-h --help -V --version'
    COMPREPLY=()
    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            _ombrevault_cli_words "$common"
        else
            _ombrevault_cli_words "$commands"
        fi
        return
    fi

    # After "--" every word is a path.
    local i
    for ((i = 2; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            [[ ${COMP_WORDS[1]} == wipe ]] && _ombrevault_cli_paths || _ombrevault_cli_paths -d
            return
        fi
    done

    case ${COMP_WORDS[1]} in
    wipe)
        # "--level=x" arrives as the three words "--level", "=" and "x".
        if [[ $prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --level ]]; then
            prev=--level
        elif [[ $cur == = && $prev == --level ]]; then
            cur=
        fi
        # -l, or a group of short options that ends with it (-rl), takes the level.
        if [[ $prev == --level || $prev =~ ^-[a-zA-Z]*l$ ]]; then
            _ombrevault_cli_words '1 2 3 least medium high'
        elif [[ $cur == -* ]]; then
            _ombrevault_cli_words '-l --level -s --scramble --no-scramble --log --no-log --no-verify --json --clean-names
                -r --recursive -x --one-file-system -f --force -n --dry-run -i --interactive
                -v --verbose -q --quiet -h --help -V --version --'
        else
            _ombrevault_cli_paths
        fi
        ;;
    drive-info | clean-free-space)
        if [[ $cur == -* ]]; then
            _ombrevault_cli_words "$common --"
        else
            _ombrevault_cli_paths -d
        fi
        ;;
    help)
        ((COMP_CWORD == 2)) && _ombrevault_cli_words "$commands"
        ;;
    esac
}

complete -F _ombrevault_cli ombrevault-cli
