#!/usr/bin/env bash
# Runs the model data generator through a cache, as ccache does for objects:
#   model-data-cache.sh GENERATOR FOLDER [OPTION ...]
# stands for `GENERATOR generate FOLDER [OPTION ...]`, the folder holding exactly the generated
# files afterwards. The cache is the folder $VELMORANT_MODEL_DATA_CACHE, by default
# ${XDG_CACHE_HOME:-$HOME/.cache}/velmorant/model-data; deleting it clears the cache.
# An entry's key is a SHA-256 over the generator's bytes, the bytes of every shared library it
# loads (as ldd finds them: a different libm can change the results) and the options that change
# the files: every option but --threads (the files are byte-identical on any thread count) and
# --log. An entry holds the files, the generator's log and a manifest of their hashes; a hit copies
# them and checks the copies against the manifest, so a damaged entry is generated again and
# replaced, never used. An entry appears by renaming a complete folder, so builds running at once
# or an interrupted build never leave half an entry; the $VELMORANT_MODEL_DATA_CACHE_ENTRIES
# (default 4) entries used last are kept.
set -euo pipefail

generator="$1" folder="$2"
shift 2
options=("$@")
cache="${VELMORANT_MODEL_DATA_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmorant/model-data}"
keep="${VELMORANT_MODEL_DATA_CACHE_ENTRIES:-4}"

key_options=()
log=""
while [ $# -gt 0 ]; do
  case "$1" in
    --threads) shift ;;
    --log) log="${2:-}"; shift ;;
    *) key_options+=("$1") ;;
  esac
  shift
done

shared_libraries() {
  # A static generator has none, and ldd says so with a failure.
  { ldd "$generator" 2>/dev/null || true; } | awk '$3 ~ /^\// {print $3} $1 ~ /^\// {print $1}' | sort -u
}

cache_key() {
  {
    echo "velmorant model data cache 1"
    sha256sum < "$generator"
    shared_libraries | while read -r library; do
      echo "${library##*/} $(sha256sum < "$library")"
    done | sort
    printf 'option %s\n' "${key_options[@]}"
  } | sha256sum | cut -c1-64
}

# Whether a folder holds a whole entry: every file listed in its manifest with its hash, and no
# file the manifest does not list.
is_whole_entry() {
  local entry="$1"
  [ -s "$entry/manifest" ] &&
    (cd "$entry" && sha256sum --status --strict -c manifest) 2>/dev/null &&
    [ "$(cd "$entry" && find . -type f ! -name manifest | sed 's|^\./||' | sort)" = \
      "$(awk '{print $2}' "$entry/manifest" | sort)" ]
}

# Removes a folder by first renaming it, so that no reader ever sees it half removed.
discard() {
  local doomed
  doomed="$(mktemp -d "$cache/.discarded.XXXXXX")" &&
    mv -T "$1" "$doomed/entry" 2>/dev/null
  rm -rf "$doomed"
}

# Copies the entry to a staging folder beside the output and checks the copy, then puts its files
# in place of the output folder's and its log at the log's path.
fetch() {
  local staging="$folder.from-cache"
  rm -rf "$staging"
  cp -r "$entry" "$staging" 2>/dev/null && is_whole_entry "$staging" || {
    rm -rf "$staging"
    return 1
  }
  rm -rf "$folder" && mv -T "$staging/data" "$folder" &&
    { [ -z "$log" ] || [ ! -f "$staging/log" ] || mv "$staging/log" "$log"; } || return 1
  rm -rf "$staging"
  touch "$entry" 2>/dev/null || true  # used last: kept longest
}

store() {
  local incoming
  mkdir -p "$cache" && incoming="$(mktemp -d "$cache/.incoming.XXXXXX")" || return 1
  cp -r "$folder" "$incoming/data" &&
    { [ -z "$log" ] || cp "$log" "$incoming/log"; } &&
    (cd "$incoming" && find . -type f ! -name manifest | sed 's|^\./||' | sort | xargs sha256sum > manifest) || {
    rm -rf "$incoming"
    return 1
  }
  # A whole entry already there came from a build that ran at the same time: keep it.
  if ! mv -T "$incoming" "$entry" 2>/dev/null; then
    if is_whole_entry "$entry"; then
      rm -rf "$incoming"
      return 0
    fi
    discard "$entry"
    mv -T "$incoming" "$entry" 2>/dev/null || rm -rf "$incoming"
  fi
}

# Keeps the entries used last, and removes what interrupted builds left an hour ago or earlier.
prune() {
  find "$cache" -mindepth 1 -maxdepth 1 -name '.*' -mmin +60 -exec rm -rf {} + 2>/dev/null || true
  find "$cache" -mindepth 1 -maxdepth 1 -type d ! -name '.*' -printf '%T@ %p\n' | sort -rn |
    tail -n +"$((keep + 1))" | cut -d' ' -f2- | while read -r old; do discard "$old"; done
}

key="$(cache_key)"
entry="$cache/$key"
if [ -d "$entry" ]; then
  if fetch; then
    echo "model data: from the cache, key $key ($cache)"
    exit 0
  fi
  echo "model data: the cache entry $key is damaged; generating the data again"
else
  echo "model data: not in the cache, key $key; generating it"
fi

rm -rf "$folder"
"$generator" generate "$folder" "${options[@]}"
if store && prune; then
  echo "model data: stored in the cache, key $key ($cache)"
else
  echo "model data: could not store the data in the cache $cache" >&2
fi
