# bash completion of projectorctl: its commands, its options and their values, and after
# "press" the names of the model's buttons as "projectorctl list" gives them.
_projectorctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "--model=TR52" at the "=" (COMP_WORDBREAKS).
    if [[ $prev == = && $COMP_CWORD -ge 2 ]]; then prev=${COMP_WORDS[COMP_CWORD - 2]}; fi
    case $prev in
        --model) mapfile -t COMPREPLY < <(compgen -W "TR27K TR52" -- "$cur"); return ;;
        --speed) mapfile -t COMPREPLY < <(compgen -W "19200 9600" -- "$cur"); return ;;
        --port) mapfile -t COMPREPLY < <(compgen -W "COM1 COM2" -- "$cur"; compgen -f -- "$cur"); return ;;
        --timeout | --times) return ;;
    esac

    local i word command="" model=() after=0
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --model | --port | --speed | --timeout | --times)
                [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++))
                [[ $word == --model ]] && model=(--model "${COMP_WORDS[i + 1]}")
                ((i++))
                ;;
            --model=*) model=("$word") ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=$word; else ((after++)); fi ;;
        esac
    done

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--model --port --speed --timeout --json --times --help --version" -- "$cur")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "send press status watch list ports" -- "$cur")
    elif [[ $command == press && $after -eq 0 ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$(projectorctl "${model[@]}" list 2>/dev/null | cut -d ' ' -f 1)" -- "$cur")
    fi
}
complete -F _projectorctl projectorctl
