# bash completion for zoqc: its options and their values, the warnings, and the pages (*.zoq
# scripts) below the current word.
#
# The options are read from `zoqc --help` each time, so they follow the installed zoqc. A help
# line that lists options starts with blanks and a "-"; its options stand before the first run
# of two blanks, separated by ", ", as "-x", "--name", "--name=VALUE", "--name[=VALUE]" or
# "-x VALUE". When one of them shows a value, all of them take one. The value says what to
# offer: DIR a folder, FILE any file, "a|b|c" one of those words, anything else (N) nothing.
# The lines under "Warnings" name the warnings, "-Wname" each; "-Wname" and "-Wno-name" among
# the options stand for them, and an option "-Wxxx=name" takes a warning's name as its value.

# Prints the options of `$1 --help`, one a line: the option ("--name=" for a long option that
# takes a value), a tab, then what its value is: "flag" for none, "dir", "file", "words a b c",
# "warning" for a warning's name, or "value"; a warning itself ("-Wname") has "a-warning".
_zoqc_options() {
  local line forms item kind name value warnings=0 value_form='[= ][[]?([^],]*)'
  local -a items
  while IFS= read -r line; do
    [[ $line =~ ^[^[:blank:]] ]] && { [[ $line == Warnings* ]] && warnings=1 || warnings=0; }
    [[ $line =~ ^[[:blank:]]+- ]] || continue
    forms=${line#"${line%%[![:blank:]]*}"}
    forms=${forms%%"  "*}
    if ((warnings)); then  # "-Wname": on, and "-Wno-name": off
      printf '%s\ta-warning\n%s\tflag\n' "$forms" "-Wno-${forms#-W}"
      continue
    fi
    [[ $forms == -- || $forms == "-- "* ]] && continue  # "--", the end of the options
    forms=${forms//, /,}
    kind=flag
    if [[ $forms =~ $value_form ]]; then
      value=${BASH_REMATCH[1]}
      case $value in
        DIR) kind=dir ;;
        FILE) kind=file ;;
        *"|"*) kind="words ${value//|/ }" ;;
        *) kind=value ;;
      esac
    fi
    IFS=, read -r -a items <<<"$forms"
    for item in "${items[@]}"; do
      name=${item%%=*} name=${name%%"["*} name=${name%%" "*}
      [[ $name == -Wname || $name == -Wno-name ]] && continue  # the warnings are listed below
      [[ $item == -W*=name ]] && { printf '%s=\twarning\n' "$name" && continue; }
      [[ $name == --* && $kind != flag ]] && name+="="
      printf '%s\t%s\n' "$name" "$kind"
    done
  done < <("$1" --help 2>/dev/null)
}

_zoqc() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev= before=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  ((COMP_CWORD > 1)) && before=${COMP_WORDS[COMP_CWORD - 2]}
  local -a options=() names=() kinds=() warnings=()
  local name kind i pages_only=0
  while IFS=$'\t' read -r name kind; do
    options+=("$name")
    [[ $kind == a-warning ]] && warnings+=("${name#-W}") && continue
    [[ $kind != flag ]] && names+=("${name%=}") kinds+=("$kind")
  done < <(_zoqc_options "${COMP_WORDS[0]:-zoqc}")
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == -- ]] && pages_only=1
  done
  COMPREPLY=()

  # The value of an option. Bash splits "--name=value" at the "=", so the option may stand one
  # word back ("-o value", "--name =") or two ("--name = value").
  if ((!pages_only)); then
    local option= joined=1
    if [[ $cur == = ]]; then
      option=$prev cur=
    elif [[ $prev == = ]]; then
      option=$before
    else
      option=$prev joined=0
    fi
    for i in "${!names[@]}"; do
      [[ -n $option && $option == "${names[i]}" ]] || continue
      # "-Werror" alone is a flag too: a warning's name only after "-Werror=".
      [[ ${kinds[i]} == warning && $joined -eq 0 ]] && continue
      case ${kinds[i]} in
        warning) mapfile -t COMPREPLY < <(compgen -W "${warnings[*]}" -- "$cur") ;;
        dir)
          compopt -o filenames 2>/dev/null
          mapfile -t COMPREPLY < <(compgen -d -- "$cur")
          ;;
        file)
          compopt -o filenames 2>/dev/null
          mapfile -t COMPREPLY < <(compgen -f -- "$cur")
          ;;
        words\ *) mapfile -t COMPREPLY < <(compgen -W "${kinds[i]#words }" -- "$cur") ;;
      esac
      return 0
    done
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
      [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
      return 0
    fi
  fi

  # A page is named by its script without the ".zoq"; folders lead to more pages (readline
  # marks them with "/" under -o filenames, which also quotes what needs quoting).
  compopt -o filenames 2>/dev/null
  local script
  while IFS= read -r script; do
    COMPREPLY+=("${script%.zoq}")
  done < <(compgen -G "${cur}*.zoq")
  mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -d -- "$cur")
  return 0
}

complete -F _zoqc zoqc
