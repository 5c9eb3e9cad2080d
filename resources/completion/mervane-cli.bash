# bash completion for mervane-cli: commands, options, their values and the files they take.
# Plain bash (compgen, compopt): it needs nothing of the bash-completion package's helpers.

_mervane_cli_files() {
  # $1: a glob of the extensions to offer, besides folders
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen -d -- "$1") $(compgen -f -X "!$2" -- "$1"))
}

_mervane_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="settings chirp ping analyze devices sweep search-offset render calibrate track"
  local options="--backend --room --device --load --set --json --temperature --humidity
    --calibration --quiet-chirp --help -h --version"
  local fields="startFrequency= endFrequency= chirpTime= recordTime= offsetBytes=
    deltaOffsetBytes= clockMultiplier= tuneScale= cutOff= amplification= gain= gainEnabled=
    medium= chirpShape= displayMode= channels= bitsPerSample= samplesPerSec="
  local room="latency= direct= echo= noise= seed= speed= temperature= humidity= preset=desk preset=office preset=hall
    size= pos= facing= spacing= mic= rt= order= scatter= tail= air= beam= speaker= micresponse=
    pink= dc= clip="

  # Readline splits words at '=' and ':' (COMP_WORDBREAKS); a value after them is left alone.
  [[ $prev == [=:] || $cur == [=:] ]] && return

  case $prev in
    --backend)
      COMPREPLY=($(compgen -W "sim portaudio replay:" -- "$cur"))
      return ;;
    --set)
      compopt -o nospace 2>/dev/null
      case $cur in
        samplesPerSec=*)
          COMPREPLY=($(compgen -P samplesPerSec= -W "8000 11025 22050 44100 48000 96000" \
            -- "${cur#samplesPerSec=}")) ;;
        *) COMPREPLY=($(compgen -W "$fields" -- "$cur")) ;;
      esac
      return ;;
    --room)
      compopt -o nospace 2>/dev/null
      COMPREPLY=($(compgen -W "$room" -- "${cur##*,}"))
      [[ $cur == *,* ]] && COMPREPLY=("${COMPREPLY[@]/#/${cur%,*},}")
      return ;;
    --load)
      _mervane_cli_files "$cur" "*.@(son|par)"
      return ;;
    --wav) _mervane_cli_files "$cur" "*.wav"; return ;;
    --save)
      if [[ " ${COMP_WORDS[*]} " == *" calibrate "* ]]; then
        _mervane_cli_files "$cur" "*.json"
      else
        _mervane_cli_files "$cur" "*.@(son|par)"
      fi
      return ;;
    --png) _mervane_cli_files "$cur" "*.png"; return ;;
    --csv) _mervane_cli_files "$cur" "*.csv"; return ;;
    --record) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --calibration)
      _mervane_cli_files "$cur" "*.json"
      return ;;
    --device | --count | --columns | --temperature | --humidity | --distance | --second-distance | \
      --near | --changes-time)
      return ;;
  esac

  # The command is the first word that is neither an option nor an option's value.
  local i command=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --backend | --room | --device | --load | --set | --wav | --count | --columns | --save | \
        --png | --csv | --temperature | --humidity | --calibration | --distance | \
        --second-distance | --record | --near | --changes-time) ((i++)) ;;
      -*) ;;
      *) command=${COMP_WORDS[i]}; break ;;
    esac
  done

  local own=""
  case $command in
    chirp) own="--wav" ;;
    ping) own="--count --average --record" ;;
    sweep) own="--columns --save --png --csv --record --changes --changes-time" ;;
    render) own="--png --csv --changes --changes-time" ;;
    track) own="--near --count --csv" ;;
    calibrate) own="--distance --second-distance --count --save" ;;
    analyze)
      [[ $cur != -* ]] && { _mervane_cli_files "$cur" "*.wav"; return; } ;;
  esac
  if [[ $command == render && $cur != -* ]]; then
    _mervane_cli_files "$cur" "*.son"
    return
  fi
  if [[ -z $command && $cur != -* ]]; then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$own $options" -- "$cur"))
  fi
}
complete -F _mervane_cli mervane-cli
