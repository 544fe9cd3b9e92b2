# shellcheck shell=bash
# Bash completion for kalvenor, kalvenor-cli and kalvenor-loopsim. The same file is installed
# under each program's name, so that bash-completion's on-demand loading finds it by any of the
# three; it needs nothing from bash-completion itself.

# The command line up to the cursor, with "--option" "=" "value" (bash splits at '=') joined back:
# sets _kal_words, _kal_cur (what is being typed: a value after its option's '=' or not), _kal_opt
# (the option whose value is being typed, if any, from "with" the options that take one) and
# _kal_prefix (what each answer must carry when bash does not split at '=').
_kalvenor_line() {
    local with=" $1 " i w joined=0
    _kal_words=() _kal_cur='' _kal_opt='' _kal_prefix=''
    for ((i = 0; i <= COMP_CWORD && i < ${#COMP_WORDS[@]}; i++)); do
        w=${COMP_WORDS[i]}
        if [[ $w == = && ${#_kal_words[@]} -gt 0 && ${_kal_words[-1]} == -* &&
            ${_kal_words[-1]} != *=* ]]; then
            _kal_words[-1]+='='
            joined=1
        elif ((joined)); then
            _kal_words[-1]+=$w
            joined=0
        else
            _kal_words+=("$w")
        fi
    done
    ((COMP_CWORD < ${#COMP_WORDS[@]})) || _kal_words+=('')
    local current=${_kal_words[-1]} previous=''
    ((${#_kal_words[@]} > 1)) && previous=${_kal_words[-2]}
    if [[ $current == -*=* ]]; then
        _kal_opt=${current%%=*}
        _kal_cur=${current#*=}
        [[ $COMP_WORDBREAKS == *=* ]] || _kal_prefix="$_kal_opt="
    elif [[ $with == *" $previous "* ]]; then
        _kal_opt=$previous
        _kal_cur=$current
    else
        _kal_cur=$current
    fi
}

# Adds the words of $1 that begin with what is typed.
_kalvenor_words() {
    local IFS=$' \t\n' w
    for w in $1; do
        [[ $w == "$_kal_cur"* ]] && COMPREPLY+=("$_kal_prefix$w")
    done
    return 0
}

# Adds the files (with the given extensions, or any) and the folders that begin with what is typed.
_kalvenor_files() {
    local IFS=$'\n' f ext
    compopt -o filenames 2> /dev/null
    if (($#)); then
        for f in $(compgen -d -- "$_kal_cur"); do COMPREPLY+=("$_kal_prefix$f"); done
        for ext; do
            for f in $(compgen -f -X "!*.$ext" -- "$_kal_cur"); do
                [[ -d $f ]] || COMPREPLY+=("$_kal_prefix$f")
            done
        done
    else
        for f in $(compgen -f -- "$_kal_cur"); do COMPREPLY+=("$_kal_prefix$f"); done
    fi
    return 0
}

# A port: COM1 to COM16, and the serial devices present, by their stable name first; a path
# being typed is completed as any file.
_kalvenor_ports() {
    local f
    if [[ $_kal_cur == */* ]]; then
        _kalvenor_files
        return 0
    fi
    _kalvenor_words "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 COM10 COM11 COM12 COM13 COM14 COM15 COM16"
    for f in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
        [[ -e $f && $f == "$_kal_cur"* ]] && COMPREPLY+=("$_kal_prefix$f")
    done
    return 0
}

_kalvenor() {
    COMPREPLY=()
    local qt="-platform -platformpluginpath -platformtheme -plugin -qwindowgeometry -qwindowicon"
    qt+=" -qwindowtitle -session -style -stylesheet -display -geometry"
    _kalvenor_line "--port --trace $qt"
    case $_kal_opt in
        --port) _kalvenor_ports ;;
        --trace) _kalvenor_files ;;
        -*) ;;
        *)
            # One site file, after the options; --last-site stands for it.
            local i w
            for ((i = 1; i < ${#_kal_words[@]} - 1; i++)); do
                w=${_kal_words[i]}
                [[ $w == --last-site ]] && [[ $_kal_cur != -* ]] && return 0
                [[ " --port --trace $qt " == *" $w "* ]] && { ((i++)); continue; }
                [[ $w == -* ]] || return 0
            done
            if [[ $_kal_cur == -* ]]; then
                _kalvenor_words "--port --trace --last-site --list-ports --version --help -h"
            else
                _kalvenor_files kalsite
            fi
            ;;
    esac
    return 0
}

_kalvenor_cli() {
    COMPREPLY=()
    local global="--port --phase --trace --site --loop --engineer"
    local sub="--csv --json --pdf --site --loop --engineer --plan --visit"
    local i w command='' args=()
    # The command, and what follows it, as the program reads them.
    _kalvenor_line "$global"
    for ((i = 1; i < ${#_kal_words[@]} - 1; i++)); do
        w=${_kal_words[i]}
        if [[ -n $command ]]; then
            args+=("$w")
        elif [[ " $global " == *" $w "* ]]; then
            ((i++))
        elif [[ $w != -* ]]; then
            command=$w
        fi
    done
    if [[ -z $command ]]; then
        case $_kal_opt in
            --port) _kalvenor_ports ;;
            --phase) _kalvenor_words "1 2" ;;
            --trace) _kalvenor_files ;;
            --site) _kalvenor_files kalsite ;;
            --loop | --engineer) ;;
            *)
                if [[ $_kal_cur == -* ]]; then
                    _kalvenor_words "$global --json --version --help -h"
                else
                    _kalvenor_words "probe search read watch report visits compare ports"
                fi
                ;;
        esac
        return 0
    fi
    case $command in
        read) ((${#args[@]})) || _kalvenor_words "all" ;;
        report)
            _kalvenor_line "$sub"
            case $_kal_opt in
                --csv) _kalvenor_files csv ;;
                --json) _kalvenor_files json ;;
                --pdf) _kalvenor_files pdf ;;
                --plan) _kalvenor_files csv json ;;
                --site | --loop | --engineer | --visit) ;;
                *)
                    # One report at a time: once its kind is given, the others are not offered.
                    local offer=$sub
                    for w in "${args[@]}"; do
                        case ${w%%=*} in --csv | --json | --pdf)
                            offer="--site --loop --engineer --plan --visit" ;;
                        esac
                    done
                    _kalvenor_words "$offer"
                    ;;
            esac
            ;;
        compare)
            _kalvenor_line "--visit --with"
            case $_kal_opt in
                --with) _kalvenor_files json ;;
                --visit) ;;
                *) _kalvenor_words "--visit --with" ;;
            esac
            ;;
    esac
    return 0
}

_kalvenor_loopsim() {
    COMPREPLY=()
    _kalvenor_line "--dir --com --loop --fault --replay"
    case $_kal_opt in
        --dir)
            compopt -o filenames 2> /dev/null
            local IFS=$'\n' f
            for f in $(compgen -d -- "$_kal_cur"); do COMPREPLY+=("$_kal_prefix$f"); done
            ;;
        --loop) _kalvenor_files json ;;
        --replay) _kalvenor_files ;;
        --fault)
            _kalvenor_words "silent echostop: wrongecho: delay: garbage: extra: shortreply"
            [[ ${COMPREPLY[0]-} == *: ]] && compopt -o nospace 2> /dev/null
            ;;
        --com) ;;
        *)
            _kalvenor_words "--dir --com --loop --paced --trace --fault --replay --help --help-all -h"
            ;;
    esac
    return 0
}

complete -F _kalvenor kalvenor
complete -F _kalvenor_cli kalvenor-cli
complete -F _kalvenor_loopsim kalvenor-loopsim
